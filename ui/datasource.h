// The data source: the link between one record set and the data-bound
// controls that show it, relaying the record set's notifications as signals.
#pragma once

#include <QObject>

#include "ui/dataset.h"

class TDataSource : public QObject {
  Q_OBJECT

 public:
  explicit TDataSource(QObject* owner = nullptr);
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataSet_; }
  void SetDataSet(TDataSet* dataSet);
  // A disabled source relays nothing and its controls see it as inactive.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  // Enabled, with an open record set.
  bool Active() const { return enabled_ && dataSet_ != nullptr && dataSet_->Active(); }
  TDataSetState State() const { return Active() ? dataSet_->State() : dsInactive; }

  // Records the bound controls show at once; the record set keeps at least
  // that many buffers in its window.
  int BufferCount() const { return bufferCount_; }
  void SetBufferCount(int count);

 signals:
  // The record set was opened, closed, replaced or the source switched on or off.
  void ActiveChanged();
  void StateChanged();
  // The record set's window was read again; the current record may differ.
  void DataSetChanged();
  void DataSetScrolled(int distance);
  // The current record changed (field given when one field was set).
  void RecordChanged(TField* field);
  void LayoutChanged();
  // The records themselves may differ (refresh, post, delete, filter change).
  void DataSetReset();

 private:
  friend class TDataSet;

  void DataEvent(TDataEvent event, int info, TField* field);
  void DataSetDestroyed(TDataSet* dataSet);
  void NotifyActiveChange();

  TDataSet* dataSet_ = nullptr;
  bool enabled_ = true;
  bool wasActive_ = false;
  int bufferCount_ = 0;
};
