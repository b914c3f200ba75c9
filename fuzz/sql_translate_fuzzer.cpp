// The stand-in's SQL translation over any text: tokenising either succeeds or
// raises an Oracle error; translation of what tokenises never crashes, and
// every place it maps back (or names an object at) lies inside the original text.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ocisim/ora_errors.h"
#include "ocisim/sql_lexer.h"
#include "ocisim/sql_translate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view sql(reinterpret_cast<const char*>(data), size);
  try {
    const std::vector<ocisim::Token> tokens = ocisim::tokenize(sql);
    for (const ocisim::Token& token : tokens)
      if (token.offset > size || token.text.size() > size - token.offset) std::abort();
    ocisim::statementType(tokens);
    ocisim::placeholderNames(tokens);
    // As a session translates (every object name resolved in a schema) and without.
    static const ocisim::NameScope scope{"SCOTT", [](const std::string& name) { return name == "DUAL"; },
                                         [](const std::string& name) { return name == "T"; }};
    for (const ocisim::NameScope* names : {static_cast<const ocisim::NameScope*>(nullptr), &scope}) {
      const ocisim::Translation translation = ocisim::translate(tokens, 0, tokens.size(), {}, size, names);
      for (const auto& [translated, original] : translation.map)
        if (translated > translation.sql.size() || original > size) std::abort();
      if (translation.originalOffset(static_cast<long>(translation.sql.size())) > size) std::abort();
      for (const ocisim::ObjectRef& object : translation.objects)
        if (object.offset > size) std::abort();
    }
  } catch (const ocisim::OraError&) {
    // Faulty SQL is refused with an Oracle error, as the server would.
  }
  return 0;
}
