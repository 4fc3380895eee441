// list and code: what is installed, and the code of one token.
#include "Commands.h"
#include "ExitStatus.h"
#include "Output.h"
#include "TokenQuery.h"

#include "otp/Clock.h"
#include "storage/LocalDatabase.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {

// The period of a time-based token or the next counter of an event-based one.
std::string StateText(const COtpToken& token)
{
    if (token.IsEventBased()) {
        return "counter " + std::to_string(token.Counter);
    }
    if (const std::int64_t step = token.GetTimeStep(); step > 0) {
        return "period " + std::to_string(step) + " s";
    }
    return "-";
}

QJsonObject Describe(const COtpToken& token)
{
    QJsonObject object{{"id", token.ID},
                       {"name", JsonText(token.GetDisplayName())},
                       {"type", QString::fromStdString(token.GetTypeName())},
                       {"digits", token.Digits}};
    if (token.IsEventBased()) {
        object["counter"] = QString::number(token.Counter); // 64 bits: beyond a double
    } else if (const std::int64_t step = token.GetTimeStep(); step > 0) {
        object["period"] = static_cast<qint64>(step);
    }
    if (const std::string reason = token.GetUnusableReason(); !reason.empty()) {
        object["unusable"] = QString::fromStdString(reason);
    }
    return object;
}

// The code of a time-based token with the seconds it has left, both read at
// the same step of the clock.
OtpPair TimedCode(COtpToken& token, int& secondsLeft)
{
    for (;;) {
        const std::int64_t step = token.GetTimeStep();
        const std::int64_t before = OtpClock::Now();
        OtpPair codes = token.GetOtp();
        const std::int64_t after = OtpClock::Now();
        if (step <= 0 || before / step == after / step) {
            secondsLeft = step > 0 ? static_cast<int>(step - ((after % step) + step) % step) : 0;
            return codes;
        }
    }
}

} // namespace

int ListTokens(LocalDatabase& database, const CCommandLine& line)
{
    const std::vector<COtpTokenPtr> tokens = database.GetAllTokens();
    if (line.Has("json")) {
        QJsonArray array;
        for (const COtpTokenPtr& token : tokens) {
            array.append(Describe(*token));
        }
        PrintJson(array);
        return ExitStatus::Success;
    }
    for (const COtpTokenPtr& token : tokens) {
        std::string row = std::to_string(token->ID) + "\t" + token->GetTypeName() + "\t" +
                          std::to_string(token->Digits) + "\t" + StateText(*token) + "\t" +
                          token->GetDisplayName();
        if (const std::string reason = token->GetUnusableReason(); !reason.empty()) {
            row += "\t(unusable: " + reason + ")";
        }
        PrintLine(row);
    }
    return ExitStatus::Success;
}

int PrintCode(LocalDatabase& database, const CCommandLine& line)
{
    const std::string& query = line.Operands.front();
    const std::vector<TokenListing> matches = MatchTokens(database.ListTokens(), query);
    if (matches.empty()) {
        throw CCliFailure{ExitStatus::Refused, "no token matches '" + query + "'"};
    }
    if (matches.size() > 1) {
        for (const TokenListing& match : matches) {
            PrintLine(std::to_string(match.ID) + "\t" + match.Title);
        }
        throw CCliFailure{ExitStatus::AmbiguousQuery,
                          "'" + query + "' matches " + std::to_string(matches.size()) +
                              " tokens; name one by its ID or full name"};
    }
    const int id = matches.front().ID;

    COtpTokenPtr token = database.GetToken(id);
    OtpPair codes;
    int secondsLeft = 0;
    std::optional<std::uint64_t> counter;
    if (token && token->IsEventBased() && token->GetUnusableReason().empty()) {
        // The counter is stored as used before its code exists, as the window does.
        const CCounterReservation press = database.ReserveCounter(id);
        token = press.Token;
        counter = press.Counter;
        if (counter) {
            codes = token->GetOtpAt(*counter);
        }
    } else if (token && token->GetUnusableReason().empty()) {
        codes = TimedCode(*token, secondsLeft);
    }
    if (!token) {
        throw CCliFailure{ExitStatus::Refused, "token " + std::to_string(id) + " is gone"};
    }
    if (codes.first.empty()) {
        const std::string reason = token->GetUnusableReason();
        throw CCliFailure{ExitStatus::Refused,
                          "token " + std::to_string(id) + " (" + token->GetDisplayName() +
                              ") gives no code: " +
                              (reason.empty() ? "its type answers challenges only" : reason)};
    }

    if (line.Has("json")) {
        QJsonObject object{{"id", token->ID},
                           {"name", JsonText(token->GetDisplayName())},
                           {"type", QString::fromStdString(token->GetTypeName())},
                           {"code", QString::fromStdString(codes.first)}};
        if (token->TwoWay) {
            object["second_code"] = QString::fromStdString(codes.second);
        }
        if (counter) {
            object["counter"] = QString::number(*counter);
        } else {
            object["seconds_left"] = secondsLeft;
        }
        PrintJson(object);
        return ExitStatus::Success;
    }
    std::string text = codes.first;
    if (token->TwoWay) {
        text += " " + codes.second;
    }
    if (!counter) {
        text += " (" + std::to_string(secondsLeft) + " s left)";
    }
    PrintLine(text);
    return ExitStatus::Success;
}
