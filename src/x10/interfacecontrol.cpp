#include "interfacecontrol.h"
