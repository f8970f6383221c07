// ov::DistinguishedNameBuilder: a certificate name string ("C=RO, O=Orvane SRL, CN=Orvane SRL",
// as CertNameToStrW writes it) split into attributes, each with the list of its values.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "framework/guarded_string.h"
#include "framework/list.h"
#include "framework/map.h"

namespace ov {

using NameAttributes = Map<StringT, List<StringT>>;

class DistinguishedNameBuilder {
 public:
  // A certificate's encoded name read structurally (every attribute of every relative name,
  // "+" joined ones included, each value exactly as encoded): what the signature checks use
  // on every system, so that no text form's quoting rules can change who the publisher is.
  // Attribute names as CertNameToStrW writes them (CN, O, OU, C, ...; "OID." + the OID for
  // others). 0, or the decoder's error.
  static unsigned long Decode(const CERT_NAME_BLOB& name, NameAttributes& attributes);

  // A name string split into attributes: 0, or the error that ended the parse (attributes
  // read until then stay).
  static unsigned long Parse(const std::wstring& name, NameAttributes& attributes);

  // The splitter itself, one attribute-value pair per call, as DsGetRdnW does it: quoted
  // values keep their commas, a backslash escapes the next character. For the tests.
  static unsigned long NextRdn(const wchar_t*& text, size_t& remaining, std::wstring& key, std::wstring& value);
};

}  // namespace ov
