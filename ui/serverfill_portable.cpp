// Platforms without a server-side fill: the widget paints it.
#include "serverfill.h"

std::unique_ptr<ServerFill> ServerFill::create(QWidget *, int, const QColor &)
{
    return nullptr;
}
