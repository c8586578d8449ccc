#include "kit/ToolNotifications.h"

ToolNotifications& ToolNotifications::instance()
{
    static ToolNotifications notifications;
    return notifications;
}
