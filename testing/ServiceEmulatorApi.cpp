// The API's own routes: the session check, the debugger and the dispatch of resource requests.
#include <string>
#include <utility>

#include "testing/FormEncoding.h"
#include "testing/ServiceEmulator.h"
#include "testing/internal/ServiceEmulatorImpl.h"

namespace pelmar::test {

using internal::Answer;
using internal::Op;
using internal::Route;

std::optional<Answer> ServiceEmulator::Impl::checkSession(const Route& route,
                                                          const LoggedRequest& entry) const {
    if (!route.needsSession || !settings.requireSession()) {
        return std::nullopt;
    }
    const std::string key = sessionKeyFor(route.app);
    std::optional<std::string> value = entry.queryParam(key);
    if (!value && !route.raw) {
        value = entry.formParam(key);
    }
    if (!value) {
        return Answer::failure(401, "session required");
    }
    if (!data->state().isSession(*value)) {
        return Answer::failure(401, "unknown session");
    }
    return std::nullopt;
}

Answer ServiceEmulator::Impl::debugger(const Route& route, const std::string& body) {
    DebugReport report;
    report.appToken = route.app;
    report.body = body;
    const auto form = parseForm(body);
    if (!form) {
        report.error = "body has a malformed percent escape";
    } else if (form->size() != 1 || form->front().first != "events") {
        report.error = "body is not a single events= field";
    } else {
        Json events = Json::parse(form->front().second, nullptr, false);
        if (events.is_discarded()) {
            report.error = "events are not valid JSON";
        } else {
            report.events = std::move(events);
        }
    }
    if (!report.error.empty()) {
        Answer answer = Answer::failure(400, report.error);
        data->state().addDebugReport(std::move(report));
        return answer;
    }
    const size_t count = report.events->is_array() ? report.events->size() : 1;
    data->state().addDebugReport(std::move(report));
    return Answer::json(200, Json{{"received", count}});
}

Answer ServiceEmulator::Impl::dispatch(const Route& route,
                                       const LoggedRequest& entry,
                                       std::string body) {
    switch (route.op) {
        case Op::NotFound:
            return Answer::failure(404, "no route for " + entry.method + " " + entry.path);
        case Op::MethodNotAllowed:
            return Answer::failure(405, "method " + entry.method + " not allowed on " + entry.path);
        case Op::BadToken:
            return Answer::failure(400, "malformed token in " + entry.path);
        default:
            break;
    }
    if (auto refused = checkSession(route, entry)) {
        return std::move(*refused);
    }
    FieldList params = entry.formParams;
    params.insert(params.end(), entry.queryParams.begin(), entry.queryParams.end());
    switch (route.op) {
        case Op::Session:
            return Answer::json(200, Json{{"token", data->state().issueSession()}});
        case Op::Debugger:
            return debugger(route, body);
        case Op::Index:
            return data->state().index(route.kind, route.app);
        case Op::Create:
            return data->state().create(route.kind, route.app, params);
        case Op::Get:
            return data->state().get(route.kind, route.app, route.token);
        case Op::Update:
            return data->state().update(route.kind, route.app, route.token, route.stream, params);
        case Op::Delete:
            return data->state().remove(route.kind, route.app, route.token, route.stream);
        case Op::Confirm:
            return data->state().confirm(route.kind, route.app, route.token, route.stream);
        case Op::CreateStream:
            return data->state().createStream(route.app, route.token);
        case Op::RecorderSubmit:
            return data->state().recorderSubmit(route.app, route.token, route.stream);
        case Op::ImageAttach:
            return data->state().attachCover(route.app, route.token, route.stream, std::move(body));
        case Op::Thumbnail:
            return data->state().thumbnail(route.app, route.token);
        case Op::Download:
            return data->state().download(route.kind, route.app, route.token);
        default:
            return Answer::failure(500, "request reached no handler");
    }
}

}  // namespace pelmar::test
