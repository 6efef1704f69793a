#include "HostResolver.h"

HostResolver::~HostResolver() = default;
