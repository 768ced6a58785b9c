// drive_request
#include "ostrel_google_drive_common.h"
