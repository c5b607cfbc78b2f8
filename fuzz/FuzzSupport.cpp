#include "FuzzTarget.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <typeinfo>

namespace veyra::fuzz {

void fail(const char *file, int line, const std::string &what)
{
    throw Finding { std::string(file) + ":" + std::to_string(line) + ": " + what };
}

int runUnderLibFuzzer(void (*target)(std::string_view), const std::uint8_t *data, std::size_t size)
{
    try {
        target(std::string_view(reinterpret_cast<const char *>(data), size));
        return 0;
    } catch (const Finding &finding) {
        std::fprintf(stderr, "==fuzz== finding: %s\n", finding.what.c_str());
    } catch (const std::exception &error) {
        std::fprintf(stderr, "==fuzz== exception escaped the target: %s: %s\n", typeid(error).name(), error.what());
    } catch (...) {
        std::fprintf(stderr, "==fuzz== exception of unknown type escaped the target\n");
    }
    std::abort();
}

std::string printable(std::string_view bytes)
{
    static const char hex[] = "0123456789abcdef";
    std::string text = "\"";
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
            text += static_cast<char>(c);
        } else {
            text += "\\x";
            text += hex[c >> 4];
            text += hex[c & 15];
        }
    }
    return text + "\"";
}

} // namespace veyra::fuzz
