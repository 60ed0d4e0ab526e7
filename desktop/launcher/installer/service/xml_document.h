// XmlDocument is a small cursor over the platform's XML DOM (version 3.0, in-process COM): the installation
// status log is read by walking element nodes and written by appending elements under the cursor. Narrow
// strings crossing this layer are UTF-8 both ways, never the ANSI code page: the file is read back as UTF-8,
// so any other conversion would turn non-ASCII paths into replacement characters or question marks.
// COM must be initialised on the calling thread.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_XML_DOCUMENT_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_XML_DOCUMENT_H_

#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "base/win/scoped_comptr.h"

struct IXMLDOMDocument;
struct IXMLDOMNode;

namespace zorvi {
namespace installer {

enum class XmlMoveResult {
  kMoved = 0,     // the cursor is on the element found
  kNotFound = 1,  // no such element; the cursor stays
  kError = 2,     // a DOM call failed; the cursor stays
};

class XmlDocument {
 public:
  XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;
  ~XmlDocument();

  // Makes a new empty document (synchronous, no validation, no external resources) and puts the cursor on it.
  // A document held before is released.
  bool Create();
  // Parses the file at `path` into the created document; the cursor is then on the document itself.
  bool Load(const base::FilePath& path);

  // Moves between element nodes: text, comment and processing-instruction nodes are skipped. Moving up from
  // the root element finds nothing, since the document node is no element.
  XmlMoveResult MoveToFirstChild();
  XmlMoveResult MoveToNextSibling();
  XmlMoveResult MoveToParent();

  // Read the cursor's node. GetText gives the text of the node and all its descendants, as the DOM trims it.
  // GetAttribute is false when the node is no element or has no such attribute; *value is then unchanged.
  bool GetName(std::string* name) const;
  bool GetText(std::string* text) const;
  bool GetAttribute(const std::string& name, std::string* value) const;

  // Appends a new element under the cursor and moves the cursor onto it.
  bool AddChild(const std::string& name);
  // MoveToParent as a plain success flag, for building.
  bool ToParent();
  // Attributes keep the order in which they were first set.
  bool SetAttribute(const std::string& name, const std::string& value);
  // Replaces the node's children with one text.
  bool SetText(const std::string& text);

  IXMLDOMDocument* document() const { return document_.get(); }

 private:
  enum class Direction { kFirstChild, kNextSibling, kParent };
  XmlMoveResult Move(Direction direction);

  base::win::ScopedComPtr<IXMLDOMDocument> document_;
  base::win::ScopedComPtr<IXMLDOMNode> current_;
};

// The document as UTF-8 text: the declaration line `<?xml version="1.0"?>`, then the root element indented one
// blank per level, line feeds only, no tab, and a final line feed. A tab or carriage return of a text or
// attribute, and a line feed of an attribute, is written as a character reference (`&#9;`, `&#13;`, `&#10;`),
// which every reader turns back into the character. The platform's writer makes the text where it can and the
// document holds no such character; otherwise the tree is written by the layer itself, to the same layout.
bool SerializeXmlDocument(const XmlDocument& document, std::string* text);

namespace internal {

// The two ways SerializeXmlDocument takes, apart, so that tests can hold them against each other. The
// writer's result says which of its calls failed; on failure *text is unchanged.
HRESULT SerializeWithPlatformWriter(const XmlDocument& document, std::string* text);
bool SerializeByWalkingTree(const XmlDocument& document, std::string* text);

}  // namespace internal

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_XML_DOCUMENT_H_
