// Line reading from a file descriptor through a buffer of our own. All reading of console input
// goes through ReadLine, and all waiting for bytes through Fill, so that further sources polled
// beside the descriptor fit in here.
#pragma once

#include <cstddef>
#include <string>

namespace zentra {

class CLineReader {
public:
    explicit CLineReader(int fd) : m_fd(fd) {}

    int GetFd() const { return m_fd; }

    // One line without its "\n" and without a "\r" before it, of any length. A last line that
    // the input ends without a line break is returned as a line. Returns false when the input
    // has ended (or failed) and nothing was left; `line` is then empty.
    bool ReadLine(std::string& line);

private:
    // Reads what is available into the buffer: the number of bytes added, 0 at the end of the
    // input or on a read error.
    size_t Fill();

    int m_fd;
    std::string m_buffer;
    size_t m_pos = 0;  // first byte of m_buffer not yet returned
};

}  // namespace zentra
