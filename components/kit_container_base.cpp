#include "components/kit_container_base.h"

#include <algorithm>
#include <typeinfo>

#include "components/stream_records.h"
#include "platform/rtl/filer.h"

namespace jw {

namespace {

constexpr uint16_t kMaxIdent = 0xFFFF;

[[noreturn]] void BadStream() {
  throw EReadError("Stream read error");
}

int64_t Remaining(TStream& stream) {
  return stream.Size() - stream.Position();
}

}  // namespace

uint8_t PixelFormatFlags(TKitSavePixelFormat format) {
  switch (format) {
    case TKitSavePixelFormat::spfMono:
      return kItemMono;
    case TKitSavePixelFormat::spf4bit:
      return kItem4Bit;
    case TKitSavePixelFormat::spf8bit:
      return kItem8Bit;
    default:
      return 0;
  }
}

TKitSavePixelFormat PixelFormatFromFlags(uint8_t flags) {
  if ((flags & kItemMono) != 0) return TKitSavePixelFormat::spfMono;
  if ((flags & kItem4Bit) != 0) return TKitSavePixelFormat::spf4bit;
  if ((flags & kItem8Bit) != 0) return TKitSavePixelFormat::spf8bit;
  return TKitSavePixelFormat::spfDefault;
}

// ---------------------------------------------------------- TKitChangeLink

TKitChangeLink::~TKitChangeLink() {
  if (sender_ != nullptr) sender_->UnregisterLink(this);
}

// ------------------------------------------------------- TKitBaseContainer

TKitBaseContainer::~TKitBaseContainer() {
  for (TKitChangeLink* link : links_) link->sender_ = nullptr;
}

void TKitBaseContainer::RegisterLink(TKitChangeLink* link) {
  if (link == nullptr || std::find(links_.begin(), links_.end(), link) != links_.end()) return;
  if (link->sender_ != nullptr) link->sender_->UnregisterLink(link);
  link->sender_ = this;
  links_.push_back(link);
}

void TKitBaseContainer::UnregisterLink(TKitChangeLink* link) {
  if (link == nullptr) return;
  std::erase(links_, link);
  if (link->sender_ == this) link->sender_ = nullptr;
}

void TKitBaseContainer::Change() {
  if (Updating()) return;
  // A link's owner may leave while it is told.
  for (TKitChangeLink* link : std::vector<TKitChangeLink*>(links_)) {
    if (std::find(links_.begin(), links_.end(), link) != links_.end() && link->OnChange) {
      link->OnChange(this);
    }
  }
  TKitComponent::Change();
}

// ------------------------------------------------------------ TKitListItem

void TKitListItem::SetDescription(const std::string& description) {
  if (description == description_) return;
  description_ = description;
  Change();
}

void TKitListItem::SetIdent(uint16_t ident) {
  if (ident == ident_) return;
  ident_ = ident;
  Change();
}

void TKitListItem::SetCompressed(bool compressed) {
  if (compressed == compressed_) return;
  compressed_ = compressed;
  Change();
}

TKitCustomContainer* TKitListItem::Container() const {
  return dynamic_cast<TKitCustomContainer*>(Owner());
}

void TKitListItem::Change() {
  TKitComponent::Change();
  if (TKitCustomContainer* container = Container()) container->Change();
}

uint8_t TKitListItem::GetFlags() const {
  uint8_t flags = 0;
  if (compressed_) flags |= kItemCompressed;
  if (!description_.empty()) flags |= kItemDescription;
  if (ident_ != 0) flags |= kItemIdent;
  if (WritesPayload() && MarksPayload()) flags |= kItemPayload;
  return flags;
}

void TKitListItem::ReadFromStream(TStream& stream) {
  const uint8_t flags = ReadByte(stream);
  description_ = (flags & kItemDescription) != 0 ? ReadShortString(stream) : std::string();
  ident_ = 0;
  if ((flags & kItemIdent) != 0) {
    const int32_t ident = ReadInteger(stream);
    if (ident < 0 || ident > kMaxIdent) BadStream();
    ident_ = static_cast<uint16_t>(ident);
  }
  compressed_ = (flags & kItemCompressed) != 0;
  ReadPayload(stream, flags);
  Change();
}

void TKitListItem::WriteToStream(TStream& stream) {
  WriteByte(stream, GetFlags());
  if (!description_.empty()) WriteShortString(stream, description_);
  if (ident_ != 0) WriteInteger(stream, ident_);
  if (WritesPayload()) WritePayload(stream);
}

void TKitListItem::Assign(TPersistent* source) {
  auto* item = dynamic_cast<TKitListItem*>(source);
  if (item == nullptr || typeid(*item) != typeid(*this)) {
    TKitComponent::Assign(source);
    return;
  }
  if (item == this) return;
  description_ = item->description_;
  ident_ = item->ident_;
  compressed_ = item->compressed_;
  AssignPayload(*item);
  Change();
}

void TKitListItem::DefineProperties(TFiler& filer) {
  filer.DefineBinaryProperty(
      "Internal", [this](TStream& stream) { ReadFromStream(stream); },
      [this](TStream& stream) { WriteToStream(stream); }, true);
}

// ----------------------------------------------------- TKitCustomContainer

TKitCustomContainer::TKitCustomContainer(TComponent* owner, TKitItemClass item_class,
                                         const char* signature)
    : TKitBaseContainer(owner), item_class_(item_class), signature_(signature) {}

TKitCustomContainer::~TKitCustomContainer() {
  BeginUpdate();
  items_.clear();
  DestroyComponents();
}

TKitListItem* TKitCustomContainer::Item(int index) const {
  if (index < 0 || index >= ItemCount()) return nullptr;
  return items_[static_cast<size_t>(index)];
}

int TKitCustomContainer::AddItem(TKitListItem* item) {
  if (item == nullptr) {
    if (item_class_ == nullptr) throw EInvalidOperation("Container has no item class");
    item = item_class_(this);
    item->SetCompressed(default_compressed_);
  } else if (item->Owner() != this) {
    InsertComponent(item);
  }
  if (std::find(items_.begin(), items_.end(), item) == items_.end()) items_.push_back(item);
  Change();
  return static_cast<int>(std::find(items_.begin(), items_.end(), item) - items_.begin());
}

void TKitCustomContainer::Clear() {
  const std::vector<TKitListItem*> items = std::move(items_);
  items_.clear();
  for (TKitListItem* item : items) delete item;
  Change();
}

void TKitCustomContainer::AssignDefaults(TKitCustomContainer& source) {
  default_compressed_ = source.default_compressed_;
}

void TKitCustomContainer::Assign(TPersistent* source) {
  auto* container = dynamic_cast<TKitCustomContainer*>(source);
  if (container == nullptr || typeid(*container) != typeid(*this)) {
    TKitBaseContainer::Assign(source);
    return;
  }
  if (container == this) return;
  BeginUpdate();
  try {
    Clear();
    AssignDefaults(*container);
    for (TKitListItem* item : container->items_) Item(AddItem())->Assign(item);
  } catch (...) {
    EndUpdate(true);
    throw;
  }
  EndUpdate(true);
}

void TKitCustomContainer::ReadItems(TStream& stream, bool with_index) {
  const int64_t count = ReadInteger(stream);
  // Every record takes at least its flags byte.
  if (count < 0 || count > Remaining(stream)) BadStream();
  if (with_index) {
    if (4 * count > Remaining(stream)) BadStream();
    stream.Seek(4 * count, soFromCurrent);
  }
  BeginUpdate();
  try {
    Clear();
    for (int64_t i = 0; i < count; ++i) Item(AddItem())->ReadFromStream(stream);
  } catch (...) {
    EndUpdate(true);
    throw;
  }
  EndUpdate(true);
}

void TKitCustomContainer::WriteItems(TStream& stream, bool with_index) {
  WriteInteger(stream, ItemCount());
  const int64_t table = stream.Position();
  if (with_index) {
    for (int i = 0; i < ItemCount(); ++i) WriteInteger(stream, 0);
  }
  std::vector<int64_t> offsets;
  for (TKitListItem* item : items_) {
    offsets.push_back(stream.Position());
    item->WriteToStream(stream);
  }
  if (!with_index) return;
  const int64_t end = stream.Position();
  if (end > INT32_MAX) throw EWriteError("Stream write error");
  stream.SetPosition(table);
  for (const int64_t offset : offsets) WriteInteger(stream, static_cast<int32_t>(offset));
  stream.SetPosition(end);
}

std::unique_ptr<TFileStream> TKitCustomContainer::OpenFile(const std::string& file_name) {
  auto file = std::make_unique<TFileStream>(file_name, fmOpenRead);
  bool signed_right = false;
  try {
    signed_right = ReadShortString(*file) == signature_;
  } catch (const EReadError&) {
  }
  if (!signed_right) throw Exception("Cannot open file " + file_name);
  return file;
}

void TKitCustomContainer::LoadFromFile(const std::string& file_name) {
  ReadItems(*OpenFile(file_name), true);
}

void TKitCustomContainer::SaveToFile(const std::string& file_name) {
  TFileStream file(file_name, fmCreate);
  WriteShortString(file, signature_);
  WriteItems(file, true);
}

void TKitCustomContainer::ReadFileItem(const std::string& file_name, int index,
                                       TKitListItem& item) {
  const std::unique_ptr<TFileStream> file = OpenFile(file_name);
  const int64_t count = ReadInteger(*file);
  const int64_t records = file->Position() + 4 * count;
  if (count < 0 || records > file->Size() || index < 0 || index >= count) BadStream();
  file->Seek(4 * index, soFromCurrent);
  const int64_t offset = ReadInteger(*file);
  if (offset < records || offset >= file->Size()) BadStream();
  file->SetPosition(offset);
  item.ReadFromStream(*file);
}

void TKitCustomContainer::Notification(TComponent* component, TOperation operation) {
  TKitBaseContainer::Notification(component, operation);
  if (operation != opRemove) return;
  const auto found = std::find(items_.begin(), items_.end(), component);
  if (found == items_.end()) return;
  items_.erase(found);
  if (!ComponentState().Contains(csDestroying)) Change();
}

}  // namespace jw
