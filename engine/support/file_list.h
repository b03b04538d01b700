// TFileList: the process-wide registry of shared file objects. It decides
// whether a file may be opened again within the process, creates and frees
// the file objects, keeps memory files alive between uses, and carries out
// whole-file operations. Results are handle ids or 0, or negated engine codes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/support/file_objects.h"
#include "platform/rtl/sync.h"

namespace jw {

class TFileList {
 public:
  TFileList() = default;
  TFileList(const TFileList&) = delete;
  TFileList& operator=(const TFileList&) = delete;

  // With must_be_new, a file that exists already gives -13060.
  int32_t CreateFile(const std::string& name, bool in_memory, bool temporary, TAbstractFile*& file,
                     bool must_be_new = false);
  int32_t OpenFile(const std::string& name, bool in_memory, bool temporary, bool exclusive,
                   bool& read_only, TAbstractFile*& file);
  int32_t CloseFile(TAbstractFile* file, bool in_memory, int32_t handle);
  int32_t RenameFile(const std::string& name, bool in_memory, const std::string& new_name);
  int32_t DeleteFile(const std::string& name, bool in_memory);
  bool Exists(const std::string& name, bool in_memory);
  // Copies the open source into a new target file; the target stays
  // registered with no handle. A copy that fails deletes its target.
  int32_t CopyOut(TAbstractFile* source, int32_t source_handle, const std::string& target_name,
                  bool in_memory);
  // Replaces the open target's contents with the named source file's. A
  // copy that fails leaves the target part new, part old: the caller must
  // treat it as broken.
  int32_t CopyIn(TAbstractFile* target, int32_t target_handle, const std::string& source_name,
                 bool in_memory);

  int32_t FileCount();
  // Frees every registered file object that has no open handle: memory files
  // with their contents, and disk entries left without one. A file still
  // open stays registered, so its handlers never point at a freed object.
  void FreeClosedFiles();

 private:
  TAbstractFile* Find(const std::string& name, bool in_memory);
  TAbstractFile* Add(const std::string& name, bool in_memory);
  void Remove(TAbstractFile* file);

  TCriticalSection lock_;
  std::vector<std::unique_ptr<TAbstractFile>> files_;
};

// The one registry of the process (created on first use and never
// destroyed, so that it outlives every handler). The support library's
// start-up creates it and its shutdown frees its closed files.
TFileList& FileList();
void InitFileList();
void DoneFileList();

// Size of the buffer that CopyOut and CopyIn move data through.
constexpr int32_t kCopyBufferSize = 65535;

}  // namespace jw
