/* COMSTATUS of COM1 to COM5, as a Windows program sees them through
 * rscom.dll: one line a port, "COMn <tab> result <tab> detail". The wine
 * check of the port numbering (tests/windows/ports_check.sh) runs it. */
#include "rscom.h"

#include <stdio.h>

int main(void)
{
    for (int n = 1; n <= 5; ++n) {
        char detail[512];
        const int code = COMSTATUS((int16_t)n, detail, (int16_t)sizeof detail);
        printf("COM%d\t%d\t%s\n", n, code, detail);
    }
    return 0;
}
