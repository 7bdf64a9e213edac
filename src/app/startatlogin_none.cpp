#include "startatlogin.h"

// A system whose login items Glimmerox does not know: the menu offers no "Start at Login".
std::unique_ptr<LoginItem> loginItemForCurrentUser()
{
    return nullptr;
}
