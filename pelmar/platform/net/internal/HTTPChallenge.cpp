#include "pelmar/platform/net/internal/HTTPChallenge.h"

#include <cctype>
#include <vector>

namespace pelmar::net::internal {

namespace {

bool isTokenChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0
           || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// One challenge of a field: its scheme and its parameters, as written.
struct Challenge {
    std::string scheme;
    std::vector<std::pair<std::string, std::string>> parameters;
};

// RFC 7235 challenges: `scheme [token68 | name=value *(, name=value)]`, several per field,
// separated by commas: a token not followed by "=" starts a new challenge.
std::vector<Challenge> challengesOf(std::string_view text) {
    std::vector<Challenge> out;
    std::size_t i = 0;
    const auto skipBlanks = [&] {
        // "=" too: the padding of a token68, which no challenge read here carries.
        while (i < text.size()
               && (text[i] == ' ' || text[i] == '\t' || text[i] == ',' || text[i] == '=')) {
            ++i;
        }
    };
    const auto token = [&] {
        const std::size_t start = i;
        while (i < text.size() && isTokenChar(text[i])) {
            ++i;
        }
        return std::string(text.substr(start, i - start));
    };
    while (true) {
        skipBlanks();
        std::string name = token();
        if (name.empty()) {
            break;
        }
        std::size_t after = i;
        while (after < text.size() && (text[after] == ' ' || text[after] == '\t')) {
            ++after;
        }
        if (after < text.size() && text[after] == '=' && !out.empty()) {
            // A parameter of the current challenge.
            i = after + 1;
            while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
                ++i;
            }
            std::string value;
            if (i < text.size() && text[i] == '"') {
                ++i;
                while (i < text.size() && text[i] != '"') {
                    if (text[i] == '\\' && i + 1 < text.size()) {
                        ++i;
                    }
                    value += text[i++];
                }
                ++i;
            } else {
                value = token();
            }
            out.back().parameters.emplace_back(std::move(name), std::move(value));
            continue;
        }
        out.push_back(Challenge{std::move(name), {}});
    }
    return out;
}

}  // namespace

std::optional<HTTPChallenge> httpChallengeOf(const HTTPHeaderFields& fields) {
    std::optional<HTTPChallenge> best;
    for (const auto& [name, value] : fields) {
        if (!headerNameEquals(name, "WWW-Authenticate")) {
            continue;
        }
        const std::string_view text = std::string_view(value).substr(0, kMaxChallengeFieldBytes);
        for (const auto& challenge : challengesOf(text)) {
            const bool digest = headerNameEquals(challenge.scheme, "Digest");
            if (!digest && !headerNameEquals(challenge.scheme, "Basic")) {
                continue;
            }
            if (best && best->method == URLAuthenticationMethod::HTTPDigest) {
                continue;
            }
            HTTPChallenge found{digest ? URLAuthenticationMethod::HTTPDigest
                                       : URLAuthenticationMethod::HTTPBasic,
                                {}};
            for (const auto& [parameter, parameterValue] : challenge.parameters) {
                if (headerNameEquals(parameter, "realm")) {
                    found.realm = parameterValue;
                    break;
                }
            }
            if (!best || digest) {
                best = std::move(found);
            }
        }
    }
    return best;
}

}  // namespace pelmar::net::internal
