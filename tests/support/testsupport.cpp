#include "fakemessages.h"
