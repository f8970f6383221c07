#include "installer/palisk/xml_document.h"

#include "installer/palisk/run_result_codes.h"

namespace palisk {
namespace {

// {88D96A05-F192-11D4-A65F-0040963251E5}: mingw's headers lack it.
const CLSID kClsidDomDocument60 = {0x88D96A05, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}};
// {2933BF81-7B36-11D2-B20E-00C04F983E60}
const IID kIidXmlDomDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
// {2933BF95-7B36-11D2-B20E-00C04F983E60}
const IID kIidXmlDomDocument2 = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

class Bstr {
 public:
  explicit Bstr(const wchar_t* text) : m_value(SysAllocString(text)) {}
  Bstr() = default;
  ~Bstr() { SysFreeString(m_value); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR Get() const { return m_value; }
  BSTR* Receive() {
    SysFreeString(m_value);
    m_value = nullptr;
    return &m_value;
  }
  std::wstring Text() const { return m_value != nullptr ? std::wstring(m_value, SysStringLen(m_value)) : L""; }

 private:
  BSTR m_value = nullptr;
};

}  // namespace

HRESULT XmlDocument::Create() {
  return CoCreateInstance(kClsidDomDocument60, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument,
                          m_document.ReceiveVoid());
}

HRESULT XmlDocument::PrepareForLoad() {
  // MSXML's defaults suit a browser, not an installer: `load` would return before the file
  // is read (async is on by default), and DTDs, external entities and validation would make
  // the parser fetch and expand whatever the document names.
  HRESULT result = m_document->put_async(VARIANT_FALSE);
  if (SUCCEEDED(result)) result = m_document->put_resolveExternals(VARIANT_FALSE);
  if (SUCCEEDED(result)) result = m_document->put_validateOnParse(VARIANT_FALSE);
  if (FAILED(result)) return result;
  // Our descriptors carry no DTD: refuse any (MSXML 6 has the property; older versions
  // lack it, which is why its failure is not one).
  ov::ScopedComPtr<IXMLDOMDocument2> document2;
  if (SUCCEEDED(m_document->QueryInterface(kIidXmlDomDocument2, document2.ReceiveVoid())) && document2) {
    VARIANT prohibit;
    VariantInit(&prohibit);
    prohibit.vt = VT_BOOL;
    prohibit.boolVal = VARIANT_TRUE;
    Bstr name(L"ProhibitDTD");
    document2->setProperty(name.Get(), prohibit);
  }
  return S_OK;
}

HRESULT XmlDocument::Load(const std::wstring& path, bool& success) {
  success = false;
  if (!m_document) return E_POINTER;
  const HRESULT prepared = PrepareForLoad();
  if (FAILED(prepared)) return prepared;
  // Our descriptors are a few kilobytes; a huge file from the network is refused before the
  // parser tries to hold it.
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes) &&
      ((static_cast<uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow) > kMaxDocumentBytes) {
    return HRESULT_FROM_WIN32(run_result::kDescriptorTooLarge);
  }
  VARIANT source;
  VariantInit(&source);
  source.vt = VT_BSTR;
  source.bstrVal = SysAllocString(path.c_str());
  VARIANT_BOOL loaded = VARIANT_FALSE;
  const HRESULT result = m_document->load(source, &loaded);
  VariantClear(&source);
  success = SUCCEEDED(result) && loaded == VARIANT_TRUE;
  // A document still loading is not read: 4 is READYSTATE_COMPLETE.
  LONG state = 0;
  if (success && (FAILED(m_document->get_readyState(&state)) || state != 4)) {
    success = false;
    return E_PENDING;
  }
  // Wine's MSXML ignores ProhibitDTD: a document that kept its DTD is refused here, so the
  // answer is the same as on Windows.
  ov::ScopedComPtr<IXMLDOMDocumentType> doctype;
  if (success && m_document->get_doctype(doctype.Receive()) == S_OK && doctype) {
    success = false;
    return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  }
  return result;
}

HRESULT XmlDocument::SelectNode(const wchar_t* xpath, ov::ScopedComPtr<IXMLDOMNode>& node) {
  if (!m_document) return E_POINTER;
  Bstr query(xpath);
  return m_document->selectSingleNode(query.Get(), node.Receive());
}

HRESULT XmlDocument::SelectText(const wchar_t* xpath, std::wstring& text) {
  ov::ScopedComPtr<IXMLDOMNode> node;
  const HRESULT result = SelectNode(xpath, node);
  if (result != S_OK || !node) return result == S_OK ? S_FALSE : result;
  return NodeText(node.Get(), text);
}

HRESULT XmlDocument::NodeText(IXMLDOMNode* node, std::wstring& text) {
  Bstr value;
  const HRESULT result = node->get_text(value.Receive());
  if (SUCCEEDED(result)) text = value.Text();
  return result;
}

HRESULT XmlDocument::Attribute(IXMLDOMNode* node, const wchar_t* name, std::wstring& value) {
  ov::ScopedComPtr<IXMLDOMNamedNodeMap> attributes;
  HRESULT result = node->get_attributes(attributes.Receive());
  if (result != S_OK || !attributes) return S_FALSE;
  ov::ScopedComPtr<IXMLDOMNode> attribute;
  Bstr attributeName(name);
  result = attributes->getNamedItem(attributeName.Get(), attribute.Receive());
  if (result != S_OK || !attribute) return S_FALSE;
  return NodeText(attribute.Get(), value);
}

bool XmlDocument::HasAttributes(IXMLDOMNode* node) {
  ov::ScopedComPtr<IXMLDOMNamedNodeMap> attributes;
  return node->get_attributes(attributes.Receive()) == S_OK && attributes;
}

}  // namespace palisk
