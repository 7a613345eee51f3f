#include "SlideshowProtocol.h"

#include <cerrno>
#include <cstdlib>

namespace slideshow::protocol {

std::vector<std::string> split(const std::string &line)
{
    std::vector<std::string> fields;
    if (line.empty())
        return fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            break;
        start = tab + 1;
    }
    return fields;
}

std::string clean(const std::string &text)
{
    std::string result = text.substr(0, kMaxLine / 2);
    for (char &c : result)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    return result;
}

bool parseNumber(const std::string &text, long *value)
{
    if (text.empty() || text.size() > 19)
        return false;
    std::size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size())
        return false;
    for (std::size_t j = i; j < text.size(); ++j)
        if (text[j] < '0' || text[j] > '9')
            return false;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), nullptr, 10);
    if (errno == ERANGE)
        return false;
    *value = parsed;
    return true;
}

std::string formatState(const State &state)
{
    return "ok\t" + std::to_string(state.stage) + "\t" + std::to_string(state.count) + "\t"
           + std::to_string(state.current) + "\t" + std::to_string(state.width) + "\t"
           + std::to_string(state.height) + "\t" + std::to_string(state.document) + "\t"
           + std::to_string(state.changes) + "\t" + clean(state.name);
}

bool parseState(const std::string &answer, State *state)
{
    const std::vector<std::string> fields = split(answer);
    if (fields.size() != 9 || fields[0] != "ok")
        return false;
    long numbers[7];
    for (int i = 0; i < 7; ++i)
        if (!parseNumber(fields[i + 1], &numbers[i]))
            return false;
    const long stage = numbers[0], count = numbers[1], current = numbers[2];
    if (stage < 0 || stage > 4 || count < 0 || count > 100000 || current < 0 || current > count + 1
        || numbers[3] < 0 || numbers[4] < 0 || numbers[5] < 0 || numbers[6] < 0)
        return false;
    State parsed;
    parsed.stage = static_cast<int>(stage);
    parsed.count = static_cast<int>(count);
    parsed.current = static_cast<int>(current);
    parsed.width = numbers[3];
    parsed.height = numbers[4];
    parsed.document = numbers[5];
    parsed.changes = numbers[6];
    parsed.name = fields[8];
    *state = parsed;
    return true;
}

} // namespace slideshow::protocol
