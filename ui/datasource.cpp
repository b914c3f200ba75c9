// The data source: relays one record set's notifications to the controls that
// show it.
#include "ui/datasource.h"

TDataSource::TDataSource(QObject* owner) : QObject(owner) {}

TDataSource::~TDataSource() {
  if (dataSet_ != nullptr) dataSet_->DetachDataSource(this);
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (dataSet_ != nullptr) dataSet_->DetachDataSource(this);
  dataSet_ = dataSet;
  if (dataSet_ != nullptr) dataSet_->AttachDataSource(this);
  NotifyActiveChange();
  emit LayoutChanged();
}

void TDataSource::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  if (dataSet_ != nullptr && dataSet_->Active()) dataSet_->UpdateBufferCount();
  NotifyActiveChange();
}

void TDataSource::SetBufferCount(int count) {
  if (count == bufferCount_) return;
  bufferCount_ = count;
  if (enabled_ && dataSet_ != nullptr && dataSet_->Active()) dataSet_->UpdateBufferCount();
}

void TDataSource::NotifyActiveChange() {
  const bool active = Active();
  if (active == wasActive_) return;
  wasActive_ = active;
  emit ActiveChanged();
}

void TDataSource::DataSetDestroyed(TDataSet* dataSet) {
  if (dataSet != dataSet_) return;
  dataSet_ = nullptr;
  NotifyActiveChange();
}

void TDataSource::DataEvent(TDataEvent event, int info, TField* field) {
  if (!enabled_) return;
  switch (event) {
    case deFieldChange:
      emit RecordChanged(field);
      break;
    case deRecordChange:
      emit RecordChanged(nullptr);
      break;
    case deDataSetChange:
      emit DataSetChanged();
      break;
    case deDataSetScroll:
      emit DataSetScrolled(info);
      break;
    case deLayoutChange:
      emit LayoutChanged();
      break;
    case deUpdateState:
      // An open or close that happened while the controls were disabled
      // arrives here too, so the active state is compared, not the event.
      NotifyActiveChange();
      emit StateChanged();
      break;
    case deDataSetReset:
      emit DataSetReset();
      break;
    case deCheckBrowseMode:
      break;
  }
}
