// The program's own icon, the one its menu entries name.
#pragma once

#include <QIcon>

// The icon at every size the desktop's icon theme has it in (16 to 256
// pixels), for the windows' title bars and task switchers.
QIcon ProgramIcon();
