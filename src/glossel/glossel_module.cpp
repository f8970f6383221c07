// Glossel.dll: the localisation library. It publishes one object, "Glossel", a singleton.
#include "framework/object_registry.h"
#include "glossel/glossel.h"

OV_DECLARE_SINGLETON(CGlossel, L"Glossel", glossel);
