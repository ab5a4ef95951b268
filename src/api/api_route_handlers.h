#pragma once

#include "api/api_reply.h"
#include "api/api_route.h"
#include "api/api_types.h"
#include "api/http_request.h"
#include "common/app_logger.h"

#include <QPointer>
#include <optional>
#include <string>

namespace perchwell {

class Coordinator;
class MascotControlling;
class SettingsStore;
class WorkflowStore;

// What the local API's routes do, once the server has read a whole request and, for the
// protected routes, checked its token: the REST routes, the event stream and the MCP
// endpoint. Answers go through the request's ApiReply, at once or, for the routes that
// wait for the transcript store, later. Main thread only.
class ApiRouteHandlers {
public:
    static constexpr int sessionListLimit = 100;

    explicit ApiRouteHandlers(SettingsStore& store);

    // Held weakly: a component that is gone is skipped.
    void setCoordinator(Coordinator* coordinator);
    void setMascot(MascotControlling* mascot);
    // The open transcript store, or null while there is none. The owner clears it before
    // destroying the store.
    void setWorkflowStore(WorkflowStore* store) { workflowStore_ = store; }

    void handle(ApiRoute route, const HTTPRequest& request, const ApiReply& reply);

    ControlOutcome handleControl(MCPControlRequest::Action action);
    MCPStateResponse currentState() const;

private:
    void attachSSE(const ApiReply& reply);
    void handleListSessions(const ApiReply& reply);
    void handleSetSessionPolicy(const std::optional<std::string>& body, const ApiReply& reply);
    void handleMCP(const std::optional<std::string>& body, const ApiReply& reply);

    MascotControlling* mascot() const;

    SettingsStore& store_;
    AppLogger log_{"mcp"};
    AppLogger coordLog_{"coord"};
    QPointer<Coordinator> coordinator_;
    MascotControlling* mascot_ = nullptr;
    QPointer<QObject> mascotObject_; // tracks the mascot's lifetime when it is a QObject
    WorkflowStore* workflowStore_ = nullptr;
};

} // namespace perchwell
