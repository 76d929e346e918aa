// A platform header that reaches up into the service: the check must refuse it.
#pragma once

#include "service/service_host.h"
