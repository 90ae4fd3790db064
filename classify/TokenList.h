#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace bramvell {

// A message's distinct tokens back to back in one buffer: two blocks for its hundreds of tokens instead
// of a string each, which halves what a learning batch holds and makes far fewer allocations.
class TokenList {
  public:
    TokenList() = default;
    // From strings, for callers that have them (converting, so that a vector can be assigned).
    TokenList(const std::vector<std::string>& tokens) {  // NOLINT(google-explicit-constructor)
        for (const std::string& token : tokens) {
            Append(token);
        }
    }

    void Assign(std::span<const std::string_view> tokens) {
        bytes_.clear();
        ends_.clear();
        std::size_t total = 0;
        for (std::string_view token : tokens) {
            total += token.size();
        }
        bytes_.reserve(total);
        ends_.reserve(tokens.size());
        for (std::string_view token : tokens) {
            Append(token);
        }
    }

    std::size_t size() const { return ends_.size(); }
    bool empty() const { return ends_.empty(); }
    std::string_view operator[](std::size_t i) const {
        const uint32_t start = i == 0 ? 0 : ends_[i - 1];
        return std::string_view(bytes_.data() + start, ends_[i] - start);
    }

  private:
    void Append(std::string_view token) {
        bytes_.insert(bytes_.end(), token.begin(), token.end());
        ends_.push_back(static_cast<uint32_t>(bytes_.size()));
    }

    // A vector, not a string: moving the list never moves its bytes (a short string would be), so views
    // of its tokens stay valid when the list is moved.
    std::vector<char> bytes_;
    std::vector<uint32_t> ends_;
};

}  // namespace bramvell
