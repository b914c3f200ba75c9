// The data-access library's message catalogue, looked up by string-table id.
#include "o_lang.h"

#include <algorithm>
#include <iterator>

namespace {

struct Entry {
  int id;
  const char* text;
};

// Sorted by id.
constexpr Entry catalogue[] = {
    {SErrorCaption, "Error"},
    {SCloseCaption, "Close"},
    {SReadOnlyField, "Read only - can't set data into field"},
    {SAddingNotSupported, "Sorry, adding not supported."},
    {SDeletingNotSupported, "Sorry, deleting not supported."},
    {SEditingNotSupported, "Sorry, editing not supported."},
    {SPostingNotSupported, "Sorry, posting not supported."},
    {SSessionNotAssigned, "Session is not assigned"},
    {SEmptySQL, "Can't execute empty SQL."},
    {SNonBlobStream, "Can't create BLOB stream on non-blob field"},
    {SProductName, "Quenlow"},
    {SLoginPrompt, "Enter user name and password"},
    {SUserName, "User name"},
    {SPassword, "Password"},
    {SDatabase, "Database"},
    {SOKCaption, "OK"},
    {SCancelCaption, "Cancel"},
    {SDetails, "Details"},
    {SCantInitOCI, "Can not Initialize Oracle Call Interface"},
    {SZeroRecordBuffer, "Can't allocate 0 bytes for record buffer."},
    {SNoRecords, "No Records in dataset"},
};

static_assert(std::is_sorted(std::begin(catalogue), std::end(catalogue),
                             [](const Entry& a, const Entry& b) { return a.id < b.id; }));

}  // namespace

QString LoadStr(int id) {
  const auto* found = std::lower_bound(std::begin(catalogue), std::end(catalogue), id,
                                       [](const Entry& e, int key) { return e.id < key; });
  if (found == std::end(catalogue) || found->id != id) return {};
  return QLatin1String(found->text);
}
