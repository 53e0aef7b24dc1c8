#include "platform/fake/Fakes.h"
