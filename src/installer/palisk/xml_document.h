// The kit descriptors read through MSXML 6 over COM: element texts found by XPath and the
// attributes of elements; never a schema.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include <cstdint>
#include <string>

#include "framework/scoped_com.h"

namespace palisk {

class XmlDocument {
 public:
  // The largest descriptor file we parse (installer.xml, data.xml, tallon.xml).
  static constexpr uint64_t kMaxDocumentBytes = 16ull << 20;

  // Creates the DOMDocument60 object. An HRESULT.
  HRESULT Create();
  // Loads `path` synchronously: succeeds only with a non-negative result, the success flag
  // set and the document complete. A document with a DTD is refused. A file
  // larger than kMaxDocumentBytes gives HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE).
  HRESULT Load(const std::wstring& path, bool& success);
  // S_OK with the node, S_FALSE when the path selects nothing, or a failure.
  HRESULT SelectNode(const wchar_t* xpath, ov::ScopedComPtr<IXMLDOMNode>& node);
  // S_OK with the element's text, S_FALSE when absent (the text is then untouched).
  HRESULT SelectText(const wchar_t* xpath, std::wstring& text);

  static HRESULT NodeText(IXMLDOMNode* node, std::wstring& text);
  // S_OK with the attribute's value, S_FALSE when the node has no such attribute.
  static HRESULT Attribute(IXMLDOMNode* node, const wchar_t* name, std::wstring& value);
  // The node has attributes at all (elements do; comments and text do not).
  static bool HasAttributes(IXMLDOMNode* node);

 private:
  // Synchronous loading, no external resources, no validation, no DTD.
  HRESULT PrepareForLoad();

  ov::ScopedComPtr<IXMLDOMDocument> m_document;
};

}  // namespace palisk
