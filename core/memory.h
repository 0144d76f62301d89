// Large work planes are allocated and freed on every filter run; handing them back to the
// system each time costs a page fault per 4 kB on the next run. A stage of the data path
// that cannot get the memory it needs refuses, says so, and leaves the record as it was.
#pragma once

#include <new>
#include <stdexcept>
#include <string>

// Keeps freed memory in the process for reuse (glibc; nothing elsewhere).
void keep_freed_memory();

// An allocation failure that the stage it struck has already reported ("not enough memory
// for ...") and undone: the record holds what it held before the stage began.
class memory_refused : public std::bad_alloc {
public:
    explicit memory_refused(std::string message) : message(std::move(message)) {}
    const char* what() const noexcept override { return message.c_str(); }

private:
    std::string message;
};

// Logs the warning "not enough memory for <purpose>" and throws memory_refused.
[[noreturn]] void refuse_for_memory(const std::string& purpose);

// Runs `stage`; an allocation failure in it (a refused or too long array included) becomes
// the warning and memory_refused. The stage itself undoes what it had changed.
template <class Stage>
void within_memory(const std::string& purpose, Stage&& stage)
{
    try {
        stage();
    } catch (const memory_refused&) {
        throw;
    } catch (const std::bad_alloc&) {
        refuse_for_memory(purpose);
    } catch (const std::length_error&) {
        refuse_for_memory(purpose);
    }
}
