#pragma once
// The platform's file-name patterns: '*' and '?' with the DOS rules the file
// search applies ("*.*" matches every name, "a.*" also matches "a", "*."
// matches names without an extension, '?' matches no character at a period
// or at the end), letters compared without regard to ASCII case.
#include <string_view>
#include <vector>

namespace w32 {

class Wildcard {
 public:
  explicit Wildcard(std::u16string_view pattern);

  bool Matches(std::u16string_view name) const;
  bool HasWildcards() const { return has_wildcards_; }
  // A lone '*': no name needs looking at.
  bool MatchesEverything() const { return tokens_.size() == 1 && tokens_[0].kind == Kind::kStar; }

 private:
  enum class Kind { kChar, kStar, kDosStar, kDosQm, kDosDot };
  struct Token {
    Kind kind;
    char16_t c;
  };
  std::vector<Token> tokens_;
  bool has_wildcards_ = false;
};

}  // namespace w32
