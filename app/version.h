// Version and release texts shown in the title, the About box and the update check.
#pragma once

#define VOXMIRA_VERSION "2.62"
#define VOXMIRA_RELEASE "23rd November 2023"
