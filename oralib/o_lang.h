// The data-access library's message catalogue: translatable captions and
// messages, looked up by string-table id.
#pragma once

#include <QString>

enum TOMessageId : int {
  SErrorCaption = 65232,
  SCloseCaption = 65233,
  SReadOnlyField = 65248,
  SAddingNotSupported = 65249,
  SDeletingNotSupported = 65250,
  SEditingNotSupported = 65251,
  SPostingNotSupported = 65252,
  SSessionNotAssigned = 65253,
  SEmptySQL = 65254,
  SNonBlobStream = 65255,
  SProductName = 65256,
  SLoginPrompt = 65257,
  SUserName = 65258,
  SPassword = 65259,
  SDatabase = 65260,
  SOKCaption = 65261,
  SCancelCaption = 65262,
  SDetails = 65263,
  SCantInitOCI = 65277,
  SZeroRecordBuffer = 65278,
  SNoRecords = 65279,
};

// The text of `id`; empty for an id the catalogue does not hold.
QString LoadStr(int id);
