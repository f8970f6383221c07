// Palisk's declared objects. Palisk exports nothing, so these are never looked up from
// outside; its own code builds the crypt objects directly.
#include "framework/crypt_base64.h"
#include "framework/crypt_blowfish.h"
#include "framework/object_registry.h"

OV_DECLARE_OBJECT(Crypt::Base64ObjectImplementation, L"Crypt.Base64", base64);
OV_DECLARE_OBJECT(Crypt::BlowfishObjectImplementation, L"Crypt.Blowfish", blowfish);
