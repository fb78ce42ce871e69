#include "kernel/wildcard.h"

#include "support/text.h"

namespace w32 {

// The pattern as the search translates it: '?' always, '*' before a '.' and
// a '.' before '?', '*' or the end take their DOS meanings.
Wildcard::Wildcard(std::u16string_view pattern) {
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char16_t c = pattern[i];
    const char16_t next = i + 1 < pattern.size() ? pattern[i + 1] : 0;
    if (c == u'?') {
      tokens_.push_back({Kind::kDosQm, 0});
    } else if (c == u'*') {
      tokens_.push_back({next == u'.' ? Kind::kDosStar : Kind::kStar, 0});
    } else if (c == u'.' && (next == u'?' || next == u'*' || next == 0) && i > 0) {
      tokens_.push_back({Kind::kDosDot, 0});
    } else {
      tokens_.push_back({Kind::kChar, AsciiLower(c)});
      continue;
    }
    has_wildcards_ = true;
  }
}

// matched[i]: the tokens so far can consume exactly the first i characters.
bool Wildcard::Matches(std::u16string_view name) const {
  const size_t n = name.size();
  const size_t last_dot = name.rfind(u'.');
  std::vector<char> matched(n + 1, 0), next(n + 1, 0);
  matched[0] = 1;
  for (const Token& token : tokens_) {
    std::fill(next.begin(), next.end(), 0);
    for (size_t i = 0; i <= n; ++i) {
      if (!matched[i]) continue;
      switch (token.kind) {
        case Kind::kChar:
          if (i < n && AsciiLower(name[i]) == token.c) next[i + 1] = 1;
          break;
        case Kind::kStar:
          for (size_t j = i; j <= n; ++j) next[j] = 1;
          break;
        case Kind::kDosStar: {
          // Any run that does not take the name's final period.
          const size_t stop = last_dot == std::u16string_view::npos || last_dot < i ? n : last_dot;
          for (size_t j = i; j <= stop; ++j) next[j] = 1;
          break;
        }
        case Kind::kDosQm:
          if (i < n && name[i] != u'.') {
            next[i + 1] = 1;
          } else {
            next[i] = 1;
          }
          break;
        case Kind::kDosDot:
          if (i < n && name[i] == u'.') next[i + 1] = 1;
          if (i == n) next[i] = 1;
          break;
      }
    }
    matched.swap(next);
  }
  return matched[n] != 0;
}

}  // namespace w32
