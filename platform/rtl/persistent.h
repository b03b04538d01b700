// TPersistent: the root of objects that can be assigned from one another and
// that store binary properties through the filer (filer.h).
#pragma once

#include <functional>
#include <string>

namespace jw {

class TFiler;
class TPersistent;

// An event that names its sender.
using TNotifyEvent = std::function<void(TPersistent* sender)>;

class TPersistent {
 public:
  TPersistent() = default;
  TPersistent(const TPersistent&) = delete;
  TPersistent& operator=(const TPersistent&) = delete;
  virtual ~TPersistent() = default;

  // Copies source into this object. The base asks the source to assign itself
  // to this object (AssignTo), so either side may know the pair; a null source
  // or a pair that neither side knows raises EConvertError.
  virtual void Assign(TPersistent* source);

  // The name of the object's class without its namespace, such as
  // "TStringList"; it appears in error messages.
  std::string ClassName() const;

  // Declares the binary properties the object stores; the base has none.
  virtual void DefineProperties(TFiler& filer);

 protected:
  // Copies this object into dest; the base knows no pair and raises
  // EConvertError "Cannot assign a <this class> to a <dest class>".
  virtual void AssignTo(TPersistent& dest);
};

}  // namespace jw
