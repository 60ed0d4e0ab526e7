#include "desktop/launcher/installer/service/xml_document.h"

#include <initguid.h>

#include <msxml2.h>
#include <shlwapi.h>

#include <algorithm>
#include <utility>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_bstr.h"
#include "base/win/scoped_variant.h"

// The toolchain's msxml2.h declares the 3.0 class and interface ids but no library defines them.
DEFINE_GUID(CLSID_DOMDocument30, 0xF5078F32, 0xC551, 0x11D3, 0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21);
DEFINE_GUID(CLSID_MXXMLWriter30, 0x3D813DFE, 0x6C91, 0x4A4E, 0x8F, 0x41, 0x04, 0x34, 0x6A, 0x84, 0x1D, 0x9C);
DEFINE_GUID(CLSID_SAXXMLReader30, 0x3124C396, 0xFB13, 0x4836, 0xA6, 0xAD, 0x13, 0x17, 0xF1, 0x71, 0x36, 0x88);
__CRT_UUID_DECL(IXMLDOMNode, 0x2933BF80, 0x7B36, 0x11D2, 0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60)
__CRT_UUID_DECL(IXMLDOMDocument, 0x2933BF81, 0x7B36, 0x11D2, 0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60)
__CRT_UUID_DECL(IXMLDOMNamedNodeMap, 0x2933BF83, 0x7B36, 0x11D2, 0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60)
__CRT_UUID_DECL(IXMLDOMElement, 0x2933BF86, 0x7B36, 0x11D2, 0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60)
__CRT_UUID_DECL(IMXWriter, 0x4D7FF4BA, 0x1565, 0x4EA8, 0x94, 0xE1, 0x6E, 0x72, 0x4A, 0x46, 0xF9, 0x8D)
__CRT_UUID_DECL(ISAXXMLReader, 0xA4F96ED0, 0xF829, 0x476E, 0x81, 0xC0, 0xCD, 0xC7, 0xBD, 0x2A, 0x08, 0x02)
__CRT_UUID_DECL(ISAXContentHandler, 0x1545CDFA, 0x9E4E, 0x4497, 0xA8, 0xA4, 0x2B, 0xF7, 0xD0, 0x11, 0x2C, 0x44)
__CRT_UUID_DECL(ISAXErrorHandler, 0xA60511C4, 0xCCF5, 0x479E, 0x98, 0xA3, 0xDC, 0x8D, 0xC5, 0x45, 0xB7, 0xD0)
__CRT_UUID_DECL(ISAXDTDHandler, 0xE15C1BAF, 0xAFB3, 0x4D60, 0x8C, 0x36, 0x19, 0xA8, 0xC4, 0x5D, 0xEF, 0xED)

namespace zorvi {
namespace installer {
namespace {

using base::win::ScopedBstr;
using base::win::ScopedComPtr;
using base::win::ScopedVariant;

constexpr char kDeclaration[] = "<?xml version=\"1.0\"?>\n";

// A COM string holding UTF-8 text. Without memory for it nothing sensible is left to do.
class Utf8Bstr {
 public:
  explicit Utf8Bstr(const std::string& utf8) : bstr_(base::UTF8ToWide(utf8).c_str()) {
    CHECK(bstr_.Get()) << "out of memory for a COM string";
  }
  BSTR Get() const { return bstr_.Get(); }

 private:
  ScopedBstr bstr_;
};

std::string BstrToUTF8(const ScopedBstr& bstr) {
  return base::WideToUTF8(std::wstring(bstr.Get(), bstr.Length()));
}

// A variant that lends `object` to a call without owning it.
VARIANT BorrowedUnknown(IUnknown* object) {
  VARIANT variant;
  VariantInit(&variant);
  variant.vt = VT_UNKNOWN;
  variant.punkVal = object;
  return variant;
}

// Reads a node value (attribute or text) as a string; false when it has none or is no string.
bool GetNodeValue(IXMLDOMNode* node, std::wstring* value) {
  ScopedVariant variant;
  if (node->get_nodeValue(variant.Receive()) != S_OK)
    return false;
  VARIANT text = variant.Release();
  const bool converted = SUCCEEDED(VariantChangeType(&text, &text, 0, VT_BSTR));
  if (converted)
    value->assign(text.bstrVal, SysStringLen(text.bstrVal));
  VariantClear(&text);
  return converted;
}

// A loaded document keeps its declaration as a processing instruction named "xml"; the text gets its own.
bool IsDeclaration(IXMLDOMNode* node, DOMNodeType type) {
  ScopedBstr name;
  return type == NODE_PROCESSING_INSTRUCTION && SUCCEEDED(node->get_nodeName(name.Receive())) &&
         std::wstring(name.Get(), name.Length()) == L"xml";
}

// What every serialization ends with, whichever way the body was made: the declaration, no carriage returns
// (the writer ends lines with CR LF), blanks for the writer's indenting tabs, and a final line feed. The body's
// own tabs and carriage returns are layout only: those of values reach here as character references.
std::string FinishSerializedText(const std::wstring& body) {
  std::string text = kDeclaration + base::WideToUTF8(body);
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  std::replace(text.begin(), text.end(), '\t', ' ');
  text.push_back('\n');
  return text;
}

// Calls visit(child, type) for each child node of `parent` in order, while it returns true.
template <typename Visit>
bool ForEachChild(IXMLDOMNode* parent, Visit visit) {
  ScopedComPtr<IXMLDOMNode> child;
  HRESULT result = parent->get_firstChild(child.Receive());
  while (result == S_OK) {
    DOMNodeType type;
    if (FAILED(child->get_nodeType(&type)) || !visit(child.get(), type))
      return false;
    ScopedComPtr<IXMLDOMNode> next;
    result = child->get_nextSibling(next.Receive());
    child = next;
  }
  return SUCCEEDED(result);
}

// Writes a DOM tree in the layout of the platform's indenting writer: each element starts a new line indented
// one tab per level, except right after text, which stays on its line; an element with neither child elements
// nor text closes its start tag; end tags follow text directly and otherwise get a line of their own.
class TreeWriter {
 public:
  bool WriteDocument(IXMLDOMNode* document) {
    return ForEachChild(document, [this](IXMLDOMNode* child, DOMNodeType type) {
             if (type == NODE_ELEMENT)
               return WriteElement(child, 0);
             if (IsDeclaration(child, type))
               return true;
             LOG(ERROR) << "Cannot write an XML node of type " << type << " outside the root element";
             return false;
           }) &&
           !out_.empty();
  }

  const std::wstring& text() const { return out_; }
  // Whether a value's character had to be written as a reference, which the platform's writer does not do.
  bool wrote_references() const { return wrote_references_; }

 private:
  bool WriteElement(IXMLDOMNode* element, int depth) {
    if (!out_.empty() && !after_text_)
      StartLine(depth);
    ScopedBstr name;
    if (FAILED(element->get_nodeName(name.Receive())))
      return false;
    out_.push_back(L'<');
    out_.append(name.Get(), name.Length());
    if (!WriteAttributes(element))
      return false;
    bool start_tag_open = true;
    after_text_ = false;
    const bool written = ForEachChild(element, [&](IXMLDOMNode* child, DOMNodeType type) {
      if (type == NODE_ELEMENT) {
        CloseStartTag(&start_tag_open);
        return WriteElement(child, depth + 1);
      }
      if (type != NODE_TEXT && type != NODE_CDATA_SECTION) {
        LOG(ERROR) << "Cannot write an XML node of type " << type;
        return false;
      }
      std::wstring text;
      if (!GetNodeValue(child, &text))
        return false;
      if (!text.empty()) {
        CloseStartTag(&start_tag_open);
        AppendEscaped(text, false);
        after_text_ = true;
      }
      return true;
    });
    if (!written)
      return false;
    if (start_tag_open) {
      out_.append(L"/>");
    } else {
      if (!after_text_)
        StartLine(depth);
      out_.append(L"</");
      out_.append(name.Get(), name.Length());
      out_.push_back(L'>');
    }
    after_text_ = false;
    return true;
  }

  bool WriteAttributes(IXMLDOMNode* element) {
    ScopedComPtr<IXMLDOMNamedNodeMap> attributes;
    if (element->get_attributes(attributes.Receive()) != S_OK)
      return false;
    LONG count = 0;
    if (FAILED(attributes->get_length(&count)))
      return false;
    for (LONG index = 0; index < count; ++index) {
      ScopedComPtr<IXMLDOMNode> attribute;
      ScopedBstr name;
      std::wstring value;
      if (attributes->get_item(index, attribute.Receive()) != S_OK ||
          FAILED(attribute->get_nodeName(name.Receive())) || !GetNodeValue(attribute.get(), &value)) {
        return false;
      }
      out_.push_back(L' ');
      out_.append(name.Get(), name.Length());
      out_.append(L"=\"");
      AppendEscaped(value, true);
      out_.push_back(L'"');
    }
    return true;
  }

  void StartLine(int depth) {
    out_.push_back(L'\n');
    out_.append(depth, L'\t');
  }

  void CloseStartTag(bool* open) {
    if (*open)
      out_.push_back(L'>');
    *open = false;
  }

  // Only what would break the markup or change on reading is escaped; every other character, non-ASCII
  // included, stays as it is. A value's tab or carriage return is written as a reference, since the document's
  // own tabs and carriage returns are layout that the serialization drops, and a reader turns a raw one (and a
  // raw line feed inside an attribute) into a blank or a line feed.
  void AppendEscaped(const std::wstring& text, bool in_attribute) {
    for (wchar_t c : text) {
      switch (c) {
        case L'&': out_.append(L"&amp;"); break;
        case L'<': out_.append(L"&lt;"); break;
        case L'>': out_.append(L"&gt;"); break;
        case L'\t': AppendReference(L"&#9;"); break;
        case L'\r': AppendReference(L"&#13;"); break;
        case L'\n':
          if (in_attribute) {
            AppendReference(L"&#10;");
            break;
          }
          out_.push_back(c);
          break;
        case L'"':
          if (in_attribute) {
            out_.append(L"&quot;");
            break;
          }
          [[fallthrough]];
        default: out_.push_back(c);
      }
    }
  }

  void AppendReference(const wchar_t* reference) {
    out_.append(reference);
    wrote_references_ = true;
  }

  std::wstring out_;
  bool after_text_ = false;
  bool wrote_references_ = false;
};

// The tree walk's text, and whether it holds a character reference.
bool WalkTree(const XmlDocument& document, std::string* text, bool* wrote_references) {
  ScopedComPtr<IXMLDOMNode> root;
  if (!document.document() || FAILED(root.QueryFrom(document.document())))
    return false;
  TreeWriter writer;
  if (!writer.WriteDocument(root.get()))
    return false;
  *text = FinishSerializedText(writer.text());
  *wrote_references = writer.wrote_references();
  return true;
}

}  // namespace

XmlDocument::XmlDocument() = default;
XmlDocument::~XmlDocument() = default;

bool XmlDocument::Create() {
  current_.Reset();
  document_.Reset();
  ScopedComPtr<IXMLDOMDocument> document;
  if (FAILED(document.CreateInstance(CLSID_DOMDocument30, nullptr, CLSCTX_INPROC_SERVER)) ||
      FAILED(document->put_async(VARIANT_FALSE)) || FAILED(document->put_validateOnParse(VARIANT_FALSE)) ||
      FAILED(document->put_resolveExternals(VARIANT_FALSE)) || FAILED(current_.QueryFrom(document.get()))) {
    current_.Reset();
    return false;
  }
  document_ = document;
  return true;
}

bool XmlDocument::Load(const base::FilePath& path) {
  if (!document_)
    return false;
  // The document is given the file's bytes, not its path: the DOM reads a path as a URL, so a folder named
  // with a percent sign and two hex digits would name another file.
  std::string bytes;
  if (!base::ReadFileToString(path, &bytes))
    return false;
  ScopedComPtr<IStream> stream;
  *stream.Receive() = SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size()));
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (!stream || FAILED(document_->load(BorrowedUnknown(stream.get()), &loaded)) || loaded != VARIANT_TRUE)
    return false;
  current_.Reset();
  return SUCCEEDED(current_.QueryFrom(document_.get()));
}

XmlMoveResult XmlDocument::Move(Direction direction) {
  if (!current_)
    return XmlMoveResult::kError;
  ScopedComPtr<IXMLDOMNode> node;
  HRESULT result = E_UNEXPECTED;
  switch (direction) {
    case Direction::kFirstChild: result = current_->get_firstChild(node.Receive()); break;
    case Direction::kNextSibling: result = current_->get_nextSibling(node.Receive()); break;
    case Direction::kParent: result = current_->get_parentNode(node.Receive()); break;
  }
  for (;;) {
    if (FAILED(result))
      return XmlMoveResult::kError;
    if (result != S_OK || !node)
      return XmlMoveResult::kNotFound;
    DOMNodeType type;
    if (FAILED(node->get_nodeType(&type)))
      return XmlMoveResult::kError;
    if (type == NODE_ELEMENT) {
      current_ = node;
      return XmlMoveResult::kMoved;
    }
    if (direction == Direction::kParent)
      return XmlMoveResult::kNotFound;
    ScopedComPtr<IXMLDOMNode> next;
    result = node->get_nextSibling(next.Receive());
    node = next;
  }
}

XmlMoveResult XmlDocument::MoveToFirstChild() { return Move(Direction::kFirstChild); }
XmlMoveResult XmlDocument::MoveToNextSibling() { return Move(Direction::kNextSibling); }
XmlMoveResult XmlDocument::MoveToParent() { return Move(Direction::kParent); }

bool XmlDocument::GetName(std::string* name) const {
  ScopedBstr bstr;
  if (!current_ || FAILED(current_->get_nodeName(bstr.Receive())))
    return false;
  *name = BstrToUTF8(bstr);
  return true;
}

bool XmlDocument::GetText(std::string* text) const {
  ScopedBstr bstr;
  if (!current_ || FAILED(current_->get_text(bstr.Receive())))
    return false;
  *text = BstrToUTF8(bstr);
  return true;
}

bool XmlDocument::GetAttribute(const std::string& name, std::string* value) const {
  ScopedComPtr<IXMLDOMElement> element;
  if (!current_ || FAILED(element.QueryFrom(current_.get())))
    return false;
  ScopedVariant attribute;
  if (element->getAttribute(Utf8Bstr(name).Get(), attribute.Receive()) != S_OK)
    return false;
  VARIANT text = attribute.Release();
  const bool converted = text.vt != VT_NULL && SUCCEEDED(VariantChangeType(&text, &text, 0, VT_BSTR));
  if (converted)
    *value = base::WideToUTF8(std::wstring(text.bstrVal, SysStringLen(text.bstrVal)));
  VariantClear(&text);
  return converted;
}

bool XmlDocument::AddChild(const std::string& name) {
  ScopedComPtr<IXMLDOMElement> element;
  ScopedComPtr<IXMLDOMNode> appended;
  if (!document_ || !current_ || FAILED(document_->createElement(Utf8Bstr(name).Get(), element.Receive())) ||
      FAILED(current_->appendChild(element.get(), appended.Receive())) || !appended) {
    return false;
  }
  current_ = appended;
  return true;
}

bool XmlDocument::ToParent() { return MoveToParent() == XmlMoveResult::kMoved; }

bool XmlDocument::SetAttribute(const std::string& name, const std::string& value) {
  ScopedComPtr<IXMLDOMElement> element;
  if (!current_ || FAILED(element.QueryFrom(current_.get())))
    return false;
  ScopedVariant text(base::UTF8ToWide(value).c_str());
  CHECK(text.type() == VT_BSTR && text.Get().bstrVal) << "out of memory for a COM string";
  return SUCCEEDED(element->setAttribute(Utf8Bstr(name).Get(), text.Get()));
}

bool XmlDocument::SetText(const std::string& text) {
  return current_ && SUCCEEDED(current_->put_text(Utf8Bstr(text).Get()));
}

namespace internal {

HRESULT SerializeWithPlatformWriter(const XmlDocument& document, std::string* text) {
  if (!document.document())
    return E_POINTER;
  ScopedComPtr<IMXWriter> writer;
  ScopedComPtr<ISAXContentHandler> content_handler;
  ScopedComPtr<ISAXErrorHandler> error_handler;
  ScopedComPtr<ISAXDTDHandler> dtd_handler;
  HRESULT result = writer.CreateInstance(CLSID_MXXMLWriter30, nullptr, CLSCTX_INPROC_SERVER);
  if (SUCCEEDED(result))
    result = content_handler.QueryFrom(writer.get());
  if (SUCCEEDED(result))
    result = error_handler.QueryFrom(writer.get());
  if (SUCCEEDED(result))
    result = dtd_handler.QueryFrom(writer.get());
  if (SUCCEEDED(result))
    result = writer->put_byteOrderMark(VARIANT_FALSE);
  if (SUCCEEDED(result))
    result = writer->put_omitXMLDeclaration(VARIANT_TRUE);
  if (SUCCEEDED(result))
    result = writer->put_indent(VARIANT_TRUE);
  if (SUCCEEDED(result)) {
    ScopedVariant collect_as_string(L"");  // an empty string as output makes the writer keep its text
    result = writer->put_output(collect_as_string.Get());
  }
  ScopedComPtr<ISAXXMLReader> reader;
  if (SUCCEEDED(result))
    result = reader.CreateInstance(CLSID_SAXXMLReader30, nullptr, CLSCTX_INPROC_SERVER);
  if (SUCCEEDED(result))
    result = reader->putContentHandler(content_handler.get());
  if (SUCCEEDED(result))
    result = reader->putErrorHandler(error_handler.get());
  if (SUCCEEDED(result))
    result = reader->putDTDHandler(dtd_handler.get());
  if (SUCCEEDED(result))
    result = reader->putProperty(L"http://xml.org/sax/properties/lexical-handler", BorrowedUnknown(writer.get()));
  if (SUCCEEDED(result)) {
    result =
        reader->putProperty(L"http://xml.org/sax/properties/declaration-handler", BorrowedUnknown(writer.get()));
  }
  if (SUCCEEDED(result))
    result = reader->parse(BorrowedUnknown(document.document()));
  ScopedVariant output;
  if (SUCCEEDED(result))
    result = writer->get_output(output.Receive());
  if (FAILED(result))
    return result;
  if (output.type() != VT_BSTR)
    return E_UNEXPECTED;
  const BSTR body = output.Get().bstrVal;
  *text = FinishSerializedText(std::wstring(body, SysStringLen(body)));
  return S_OK;
}

bool SerializeByWalkingTree(const XmlDocument& document, std::string* text) {
  bool wrote_references = false;
  return WalkTree(document, text, &wrote_references);
}

}  // namespace internal

bool SerializeXmlDocument(const XmlDocument& document, std::string* text) {
  // The platform's writer puts a value's tabs and carriage returns out as they are, where they cannot be told
  // from its indenting any more: a document holding one is written by the walk.
  std::string walked;
  bool wrote_references = false;
  const bool walk_written = WalkTree(document, &walked, &wrote_references);
  if (!(walk_written && wrote_references) && SUCCEEDED(internal::SerializeWithPlatformWriter(document, text)))
    return true;
  if (!walk_written)
    return false;
  *text = std::move(walked);
  return true;
}

}  // namespace installer
}  // namespace zorvi
