// TDataSource: the connector between one dataset and the data links of the
// controls and detail datasets that show or follow it. It passes the
// dataset's data events on to its links and to its own change events.
#pragma once

#include <functional>
#include <vector>

#include "platform/db/db_types.h"
#include "platform/rtl/component.h"

namespace jw {

class TDataLink;
class TDataSet;
class TField;

using TDataChangeEvent = std::function<void(TPersistent* sender, TField* field)>;

class TDataSource : public TComponent {
 public:
  explicit TDataSource(TComponent* owner);
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataset_; }
  void SetDataSet(TDataSet* dataset);
  // A disabled source tells its links that the dataset is inactive.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool AutoEdit() const { return auto_edit_; }
  void SetAutoEdit(bool auto_edit) { auto_edit_ = auto_edit; }
  TDataSetState State() const { return state_; }
  // Puts a browsing dataset into the edit state when AutoEdit is set.
  void Edit();

  TNotifyEvent OnStateChange;
  TDataChangeEvent OnDataChange;
  TNotifyEvent OnUpdateData;

 private:
  friend class TDataSet;
  friend class TDataLink;

  void DataEvent(TDataEvent event, intptr_t info);
  void NotifyLinks(TDataEvent event, intptr_t info);
  void UpdateState();
  int MaxLinkBufferCount() const;
  void AddLink(TDataLink* link);
  void RemoveLink(TDataLink* link);

  TDataSet* dataset_ = nullptr;
  bool enabled_ = true;
  bool auto_edit_ = true;
  TDataSetState state_ = dsInactive;
  std::vector<TDataLink*> links_;
};

}  // namespace jw
