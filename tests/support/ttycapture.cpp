// Reads its terminal raw and appends every byte to a file, so that a test sees exactly the bytes a
// terminal produced for the keys it received: "\r" for Enter, "\t" for Tab, UTF-8 for the rest.
// Usage: ttycapture OUTPUT [MICROSECONDS_PER_BYTE]
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <unistd.h>

int main(int argc, char* argv[])
{
    if (argc < 2)
        return 2;
    const int delayUs = argc > 2 ? std::atoi(argv[2]) : 0;
    const int out = open(argv[1], O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out < 0)
        return 1;
    termios raw{};
    if (tcgetattr(STDIN_FILENO, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    // Tells the test that the terminal is raw, so nothing typed from now on is cooked.
    const std::string ready = std::string(argv[1]) + ".ready";
    close(open(ready.c_str(), O_WRONLY | O_CREAT, 0644));
    char buf[4096];
    for (;;) {
        const ssize_t n = read(STDIN_FILENO, buf, delayUs > 0 ? 1 : sizeof buf);
        if (n <= 0)
            break;
        if (write(out, buf, static_cast<size_t>(n)) != n)
            return 1;
        if (delayUs > 0)
            usleep(static_cast<useconds_t>(delayUs));
    }
    return 0;
}
