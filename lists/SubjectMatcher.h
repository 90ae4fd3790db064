#pragma once

#include <string_view>

namespace bramvell {

// The subject-passphrase test the message analysis asks of the sender lists. Safe to call from the
// filter thread while the UI thread changes the lists.
class SubjectMatcher {
  public:
    virtual ~SubjectMatcher() = default;
    // True when some passphrase occurs in the lower-cased subject.
    virtual bool MatchSubject(std::string_view subject) const = 0;
};

}  // namespace bramvell
