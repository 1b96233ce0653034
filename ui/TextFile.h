#pragma once
// Text files with the line rules of the points files: a CR ends a line and an LF right after it
// belongs to the line end; a lone LF is an ordinary byte of the line; Ctrl-Z (26) ends the file;
// a line has no length limit. Lines are written with CR LF. Input and output move in large
// blocks. Every failure is an EInOutError with the system's error code and text.
#include <string>
#include <string_view>
#include <vector>

namespace ui {

class TextFileReader {
public:
    TextFileReader() = default;
    explicit TextFileReader(const std::string &fileName) { Open(fileName); }
    ~TextFileReader();
    TextFileReader(const TextFileReader &) = delete;
    TextFileReader &operator=(const TextFileReader &) = delete;

    void Open(const std::string &fileName);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    // True when no line is left: the file's end or a Ctrl-Z.
    bool Eof();
    // The next line without its end; an empty line at the end of the file reads as "".
    std::string ReadLine();
    // The same, into a caller's buffer (its capacity is reused line after line).
    void ReadLine(std::string &line);
    // The same without a copy where the line lies whole in the read block: the view is valid until
    // the next call on this reader. For loops that look at every line of a large file.
    std::string_view ReadLineView();

private:
    bool Fill();  // false at the file's end

    int m_fd = -1;
    std::vector<char> m_buffer;
    size_t m_pos = 0;
    size_t m_end = 0;   // the block ends here, or at a Ctrl-Z found in it
    bool m_sawEnd = false;  // the file's end or a Ctrl-Z reached: nothing more is read
    std::string m_spill;    // a line that crosses blocks, for ReadLineView
};

class TextFileWriter {
public:
    TextFileWriter() = default;
    ~TextFileWriter();  // closes without raising; call Close to see write errors
    TextFileWriter(const TextFileWriter &) = delete;
    TextFileWriter &operator=(const TextFileWriter &) = delete;

    // Creates the file, or truncates an existing one.
    void Create(const std::string &fileName);
    // Creates a file that must not exist yet (O_EXCL), with the given permission bits.
    void CreateNew(const std::string &fileName, unsigned mode = 0666);
    void WriteLine(std::string_view line);
    void Write(std::string_view text);
    void Flush();
    // Flushes and makes the contents durable before a rename puts the file in place.
    void Sync();
    void Close();
    // Closes without writing what is still buffered and without raising: for a file that is
    // about to be removed because the work it was written for failed.
    void Discard() noexcept;
    bool IsOpen() const { return m_fd >= 0; }

private:
    void OpenWith(const std::string &fileName, int flags, unsigned mode);

    int m_fd = -1;
    std::vector<char> m_buffer;
    size_t m_used = 0;
};

}  // namespace ui
