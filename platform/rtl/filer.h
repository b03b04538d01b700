// The filer: writes the binary properties that an object declares in its
// DefineProperties to a property stream, and reads them back into an object.
//
// Property stream, all integers little-endian:
//   offset 0  4 bytes  signature "JWP1"
//   then per property, in the order DefineProperties declares them:
//             1 byte   name length L, 1 to 255
//             L bytes  name
//             4 bytes  data size N (uint32)
//             N bytes  data, as the property's write procedure produced them
//   end       1 byte   0 (an empty name)
#pragma once

#include <functional>
#include <string>

#include "platform/rtl/persistent.h"
#include "platform/rtl/streams.h"

namespace jw {

// Reads or writes the bytes of one binary property.
using TStreamProc = std::function<void(TStream&)>;

// What DefineProperties talks to; the writer and the reader of the stream
// above are its two kinds.
class TFiler {
 public:
  virtual ~TFiler() = default;

  // Declares the binary property name. Reading calls read with a stream that
  // holds exactly the property's stored bytes, positioned at 0. Writing
  // calls write with an empty stream and stores what it wrote, but only when
  // has_data is true. An empty read or write procedure skips that direction.
  virtual void DefineBinaryProperty(const std::string& name, const TStreamProc& read,
                                    const TStreamProc& write, bool has_data) = 0;
};

// Writes the property stream of instance at the stream's position. A name
// that is empty, longer than 255 bytes or declared twice (without ASCII case)
// raises EWriteError; so does data of 4 GiB or more.
void WriteBinaryProperties(TPersistent& instance, TStream& stream);

// Reads a property stream from the stream's position into instance, leaving
// the position after its end mark. The whole stream is checked before any
// property is handed over: a wrong signature, a size beyond the bytes
// present or a name that appears twice raise EReadError "Invalid stream
// format"; a name that instance does not declare raises EReadError "Error
// reading <class>.<name>: Property <name> does not exist". Then each
// property goes to its read procedure in stream order; properties that the
// stream lacks keep their values.
void ReadBinaryProperties(TPersistent& instance, TStream& stream);

}  // namespace jw
