#include "app/DBWrapperGlobal.h"

TDBWrapper* dbWrapper = nullptr;
