// A stand-in for the SQL monitor's client library: registered under the
// client class id by the tests, it records what the component asks of it and
// answers as the tests tell it to.
#include <cstring>
#include <string>
#include <vector>

#include "oralib/O_SMCli_intf.h"

namespace fake_sm {

struct State {
  bool accept = true;
  std::uint16_t categories = 0x07FF;
  int created = 0;
  int registrations = 0;
  int live = 0;
  std::string title;
  std::intptr_t component = 0;
  void* data = nullptr;
  TSMCallback callback = nullptr;
  std::vector<std::string> lines;
};

State& Current() {
  static State state;
  return state;
}

void Reset() { Current() = State{}; }
void SetAccept(bool accept) { Current().accept = accept; }
void SetCategories(std::uint16_t categories) { Current().categories = categories; }
int Created() { return Current().created; }
int Registrations() { return Current().registrations; }
int Live() { return Current().live; }
std::string Title() { return Current().title; }
std::intptr_t Component() { return Current().component; }
std::vector<std::string> Lines() { return Current().lines; }
// The monitor changing its mind after registration.
void CallBack(std::uint16_t categories) {
  State& state = Current();
  if (state.callback != nullptr) state.callback(state.data, nullptr, categories);
}

namespace {

class Client final : public _oISMClient {
 public:
  Client() { ++Current().live; }
  std::int32_t QueryInterface(const char* interfaceId, void** object) override {
    *object = nullptr;
    if (std::strcmp(interfaceId, kSMClientInterfaceId) != 0) return -1;
    AddRef();
    *object = static_cast<_oISMClient*>(this);
    return 0;
  }
  std::uint32_t AddRef() override { return ++references_; }
  std::uint32_t Release() override {
    const std::uint32_t left = --references_;
    if (left == 0) delete this;
    return left;
  }
  std::int16_t Register(std::intptr_t& component, const char* title, void* data,
                        TSMCallback callback) override {
    State& state = Current();
    ++state.registrations;
    state.title = title;
    state.component = component;
    if (!state.accept) return 0;
    state.data = data;
    state.callback = callback;
    callback(data, nullptr, state.categories);
    return 1;
  }
  std::int32_t Send(const char* text, std::int32_t length) override {
    Current().lines.emplace_back(text, static_cast<std::size_t>(length));
    return 0;
  }

 private:
  ~Client() {
    State& state = Current();
    --state.live;
    state.callback = nullptr;
  }
  std::uint32_t references_ = 1;
};

}  // namespace
}  // namespace fake_sm

extern "C" std::int32_t SMCreateInstance(const char* classId, const char* interfaceId,
                                         void** object) {
  *object = nullptr;
  if (std::strcmp(classId, kSMClientClassId) != 0) return -2;
  ++fake_sm::Current().created;
  auto* client = new fake_sm::Client;
  const std::int32_t result = client->QueryInterface(interfaceId, object);
  client->Release();
  return result;
}
