// The document formats ordil writes, and the one it writes unless told.
#ifndef ORDIL_DRIVER_FORMATS_H_
#define ORDIL_DRIVER_FORMATS_H_

#include "document/document_writer.h"
#include "xml/comment_xml_writer.h"

namespace ordil {

// The comment XML document.
inline const DocumentFormat& defaultFormat() { return xmlFormat(); }

}  // namespace ordil

#endif  // ORDIL_DRIVER_FORMATS_H_
