#include "shared/sharedvalues.h"

SharedValues &sharedValues()
{
    static SharedValues values;
    return values;
}
