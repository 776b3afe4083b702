// What became of an operation that can fail: ok, or a message saying what went wrong, as one
// sentence for the user without the program's name ("cannot write out/res0001.png: No space left
// on device"), with a code where a caller acts on the kind of failure: something that is not
// there, or a read or write that the system refused. The one error form of the code the programs
// share, on the model of LevelDB's.
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
        return Status(Code::ERROR, std::move(message));
    }
    // A file or folder that is not there (ENOENT).
    static Status not_found(std::string message)
    {
        return Status(Code::NOT_FOUND, std::move(message));
    }
    // A read or write that the system refused (EIO and its kin), which may not happen again.
    static Status io_error(std::string message)
    {
        return Status(Code::IO_ERROR, std::move(message));
    }

    bool ok() const
    {
        return code_ == Code::OK;
    }
    bool is_not_found() const
    {
        return code_ == Code::NOT_FOUND;
    }
    bool is_io_error() const
    {
        return code_ == Code::IO_ERROR;
    }

    // What went wrong; empty when ok.
    const std::string &message() const
    {
        return message_;
    }

  private:
    enum class Code { OK, ERROR, NOT_FOUND, IO_ERROR };
    Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}

    Code code_ = Code::OK;
    std::string message_;
};
