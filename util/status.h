// What became of an operation that can fail: ok, or a message saying what went wrong, as one
// sentence for the user without the program's name ("cannot write out/res0001.png: No space left
// on device"). The one error form of the code the programs share, on the model of LevelDB's.
#pragma once

#include <string>
#include <utility>

class [[nodiscard]] Status
{
  public:
    // Ok.
    Status() = default;

    // A failure, described by message.
    static Status error(std::string message)
    {
        Status s;
        s.failed_ = true;
        s.message_ = std::move(message);
        return s;
    }

    bool ok() const
    {
        return !failed_;
    }

    // What went wrong; empty when ok.
    const std::string &message() const
    {
        return message_;
    }

  private:
    bool failed_ = false;
    std::string message_;
};
