// The roots of the kit's item containers: the change link through which a
// user of a container hears of its changes, the container with its links,
// the item base with its stored record, and the container of items of one
// class with its stream form and container file.
//
// Item record (the item's binary property "Internal"):
//   1      flags: bit 0 compressed, bit 1 description, bit 2 identifier,
//          bit 3 payload present; bits 4, 5, 6 the saved pixel format of
//          bitmap and image-list items (1, 4 or 8 bits)
//   1 + n  description as a short string, when bit 1 is set
//   4      identifier (0..65535), when bit 2 is set
//   ...    payload, compressed or plain as bit 0 says
// Container stream form:
//   4      item count n
//   4 x n  stream offset of each item record, when written with an index
//   ...    the item records in list order
// Container file: the signature as a short string (8, "KITIML30" and the
// like), then the stream form with its index.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "components/dib_file.h"
#include "components/kit_base.h"
#include "platform/rtl/streams.h"

namespace jw {

class TKitBaseContainer;

// Tells its owner of the changes of the container it is registered with.
class TKitChangeLink {
 public:
  TKitChangeLink() = default;
  TKitChangeLink(const TKitChangeLink&) = delete;
  TKitChangeLink& operator=(const TKitChangeLink&) = delete;
  // Leaves the container it is registered with.
  ~TKitChangeLink();

  TKitBaseContainer* Sender() const { return sender_; }
  TNotifyEvent OnChange;

 private:
  friend class TKitBaseContainer;
  TKitBaseContainer* sender_ = nullptr;
};

class TKitBaseContainer : public TKitComponent {
 public:
  using TKitComponent::TKitComponent;
  ~TKitBaseContainer() override;

  // Sets the link's sender and adds it.
  void RegisterLink(TKitChangeLink* link);
  // Removes the link and clears its sender.
  void UnregisterLink(TKitChangeLink* link);
  // Tells every link, then OnChange; nothing while an update is under way.
  void Change() override;

 private:
  std::vector<TKitChangeLink*> links_;
};

// The item record's flags.
inline constexpr uint8_t kItemCompressed = 0x01;
inline constexpr uint8_t kItemDescription = 0x02;
inline constexpr uint8_t kItemIdent = 0x04;
inline constexpr uint8_t kItemPayload = 0x08;
inline constexpr uint8_t kItemMono = 0x10;
inline constexpr uint8_t kItem4Bit = 0x20;
inline constexpr uint8_t kItem8Bit = 0x40;

// The pixel-format bits of the flags and back; spfDefault has none.
uint8_t PixelFormatFlags(TKitSavePixelFormat format);
TKitSavePixelFormat PixelFormatFromFlags(uint8_t flags);

class TKitCustomContainer;

class TKitListItem : public TKitComponent {
 public:
  using TKitComponent::TKitComponent;

  const std::string& Description() const { return description_; }
  void SetDescription(const std::string& description);
  uint16_t Ident() const { return ident_; }
  void SetIdent(uint16_t ident);
  bool Compressed() const { return compressed_; }
  void SetCompressed(bool compressed);

  // The container the item belongs to, or null.
  TKitCustomContainer* Container() const;
  // Also tells the container.
  void Change() override;

  virtual void Clear() = 0;
  virtual bool IsEmpty() const = 0;
  // The item record; a record that does not fit the stream raises
  // EReadError "Stream read error".
  virtual void ReadFromStream(TStream& stream);
  virtual void WriteToStream(TStream& stream);
  virtual uint8_t GetFlags() const;

  // Copies description, identifier, compression and payload from an item
  // of the same class.
  void Assign(TPersistent* source) override;
  // The binary property "Internal": the item record.
  void DefineProperties(TFiler& filer) override;

 protected:
  // Whether the record carries a payload and marks it with bit 3.
  virtual bool WritesPayload() const { return !IsEmpty(); }
  virtual bool MarksPayload() const { return true; }
  virtual void ReadPayload(TStream& stream, uint8_t flags) = 0;
  virtual void WritePayload(TStream& stream) = 0;
  virtual void AssignPayload(TKitListItem& source) = 0;

 private:
  std::string description_;
  uint16_t ident_ = 0;
  bool compressed_ = false;
};

// Where a container's items come from.
enum class TKitContainerSource { csInternal, csContainerFile, csResource, csLibrary, csBitmapFile };

// Makes a new item owned by the container.
using TKitItemClass = TKitListItem* (*)(TComponent* owner);

class TKitCustomContainer : public TKitBaseContainer {
 public:
  // A container without an item class takes only the items it is given.
  explicit TKitCustomContainer(TComponent* owner, TKitItemClass item_class = nullptr,
                               const char* signature = "");
  ~TKitCustomContainer() override;

  bool DefaultCompressed() const { return default_compressed_; }
  void SetDefaultCompressed(bool compressed) { default_compressed_ = compressed; }
  TKitContainerSource Source() const { return source_; }
  void SetSource(TKitContainerSource source) { source_ = source; }
  TKitPathPrefix PathPrefix() const { return path_prefix_; }
  void SetPathPrefix(TKitPathPrefix prefix) { path_prefix_ = prefix; }
  const std::string& FileName() const { return file_name_; }
  void SetFileName(const std::string& name) { file_name_ = name; }
  // The container file's signature, such as "KITBML30".
  const std::string& Signature() const { return signature_; }

  int ItemCount() const { return static_cast<int>(items_.size()); }
  // Item index, or null outside the list.
  TKitListItem* Item(int index) const;
  // Adds item (taking it into the container), or a new item of the
  // container's class compressed as DefaultCompressed says; fires the change
  // notification; returns the index.
  int AddItem(TKitListItem* item = nullptr);
  // Frees every item and fires the change notification.
  void Clear();
  // From a container of the same class: its defaults and copies of its items.
  void Assign(TPersistent* source) override;

  // The stream form. Reading replaces the items; a count or offset table
  // beyond the stream raises EReadError "Stream read error".
  virtual void ReadItems(TStream& stream, bool with_index);
  virtual void WriteItems(TStream& stream, bool with_index);
  // The container file. A file that does not start with the signature
  // raises Exception "Cannot open file <name>".
  void LoadFromFile(const std::string& file_name);
  void SaveToFile(const std::string& file_name);
  // Reads the record of item index of the container file into item.
  void ReadFileItem(const std::string& file_name, int index, TKitListItem& item);

  void Notification(TComponent* component, TOperation operation) override;

 protected:
  // Copies the container's own defaults from one of the same class.
  virtual void AssignDefaults(TKitCustomContainer& source);

 private:
  // Opens the file and checks its signature; the stream stands after it.
  std::unique_ptr<TFileStream> OpenFile(const std::string& file_name);

  TKitItemClass item_class_;
  std::string signature_;
  std::vector<TKitListItem*> items_;
  bool default_compressed_ = false;
  TKitContainerSource source_ = TKitContainerSource::csInternal;
  TKitPathPrefix path_prefix_ = TKitPathPrefix::ppProgram;
  std::string file_name_;
};

}  // namespace jw
