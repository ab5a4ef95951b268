#include "api/api_route_handlers.h"

#include "api/landing_page.h"
#include "api/mcp_protocol.h"
#include "companion/mascot_controlling.h"
#include "hooks/hook_command.h"
#include "state/coordinator.h"
#include "state/settings_store.h"
#include "workflow/workflow_store.h"

#include <QCoreApplication>
#include <utility>

namespace perchwell {
namespace {

constexpr const char* storeUnavailableMessage = "workflow store unavailable";

// Runs `work` on the main thread later, from any thread. The application object lives
// for the whole run, so the call is never posted to a dead receiver.
template <typename F> void onMainThread(F work) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

} // namespace

ApiRouteHandlers::ApiRouteHandlers(SettingsStore& store) : store_(store) {}

void ApiRouteHandlers::setCoordinator(Coordinator* coordinator) {
    coordinator_ = coordinator;
}

void ApiRouteHandlers::setMascot(MascotControlling* mascot) {
    mascot_ = mascot;
    mascotObject_ = dynamic_cast<QObject*>(mascot);
}

MascotControlling* ApiRouteHandlers::mascot() const {
    // A mascot that is a QObject is held weakly; any other is the owner's to clear.
    if (mascot_ != nullptr && dynamic_cast<QObject*>(mascot_) != nullptr && mascotObject_.isNull()) {
        return nullptr;
    }
    return mascot_;
}

MCPStateResponse ApiRouteHandlers::currentState() const {
    return MCPStateResponse{store_.enabled(), store_.mascotEnabled(), store_.safePromptOnly(),
                            store_.mcpPort()};
}

void ApiRouteHandlers::handle(ApiRoute route, const HTTPRequest& request, const ApiReply& reply) {
    switch (route) {
    case ApiRoute::health:
        reply.send(HTTPResponse::json(200, {{"ok", true}, {"version", MCPProtocol::serverVersion}}));
        return;
    case ApiRoute::landing:
        reply.send(HTTPResponse{200, "text/html; charset=utf-8", landingHTML(store_.mcpPort()), {}});
        return;
    case ApiRoute::mcpDiscovery:
        reply.send(
            HTTPResponse::json(200, {{"transport", "streamable-http"},
                                     {"name", "perchwell"},
                                     {"instructions", "POST JSON-RPC 2.0 to this same endpoint with header "
                                                      "`Authorization: Bearer <token>`."}}));
        return;
    case ApiRoute::mcpNoEventStream: {
        HTTPResponse response = HTTPResponse::error(405, "no server-initiated event stream; POST to /mcp");
        response.extraHeaders.emplace_back("Allow", "GET, POST");
        reply.send(response);
        return;
    }
    case ApiRoute::state:
        reply.send(HTTPResponse::json(200, currentState().toJSON()));
        return;
    case ApiRoute::control: {
        const auto control = MCPControlRequest::decode(request.body);
        if (!control) {
            reply.send(HTTPResponse::error(400, "invalid body"));
            return;
        }
        const ControlOutcome outcome = handleControl(control->action);
        const MCPControlResponse answer{outcome.ok, store_.enabled() ? "running" : "paused", outcome.message};
        reply.send(HTTPResponse::json(200, answer.toJSON()));
        return;
    }
    case ApiRoute::events:
        attachSSE(reply);
        return;
    case ApiRoute::sessions:
        handleListSessions(reply);
        return;
    case ApiRoute::sessionPolicy:
        handleSetSessionPolicy(request.body, reply);
        return;
    case ApiRoute::mcp:
        handleMCP(request.body, reply);
        return;
    case ApiRoute::notFound:
        reply.send(HTTPResponse::error(404, "not found"));
        return;
    }
}

ControlOutcome ApiRouteHandlers::handleControl(MCPControlRequest::Action action) {
    MascotControlling* mascot = this->mascot();
    switch (action) {
    case MCPControlRequest::Action::pause:
        if (coordinator_) {
            store_.setEnabled(false);
            coordLog_.info("watcher paused");
            if (mascot != nullptr) {
                mascot->set(MascotState::paused());
            }
        }
        break;
    case MCPControlRequest::Action::resume:
        if (coordinator_) {
            store_.setEnabled(true);
            const bool active = coordinator_->suspendCount() == 0;
            coordLog_.info(active ? "watcher active (hook + workflow mode)" : "watcher paused");
            if (mascot != nullptr) {
                mascot->set(active ? MascotState::pacing() : MascotState::paused());
            }
        }
        break;
    case MCPControlRequest::Action::wave:
        if (mascot != nullptr) {
            mascot->set(MascotState::happy());
        }
        break;
    case MCPControlRequest::Action::hide:
        if (mascot != nullptr) {
            mascot->hide();
        }
        break;
    case MCPControlRequest::Action::show:
        if (!store_.mascotEnabled()) {
            return {false, "mascot disabled in settings"};
        }
        if (mascot != nullptr) {
            mascot->show();
        }
        break;
    }
    return {true, std::nullopt};
}

void ApiRouteHandlers::attachSSE(const ApiReply& reply) {
    reply.openEventStream("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n"
                          "Cache-Control: no-cache\r\nConnection: keep-alive\r\n\r\n");
    reply.streamSend(":connected\n\n");
}

void ApiRouteHandlers::handleListSessions(const ApiReply& reply) {
    if (workflowStore_ == nullptr) {
        reply.send(HTTPResponse::error(503, storeUnavailableMessage));
        return;
    }
    workflowStore_->async([](WorkflowStore& store) { return store.listSessions(sessionListLimit); },
                          [reply](std::vector<SessionCard> cards) {
                              onMainThread([reply, cards = std::move(cards)] {
                                  nlohmann::json items = nlohmann::json::array();
                                  for (const SessionCard& card : cards) {
                                      items.push_back(sessionItemJSON(card));
                                  }
                                  reply.send(HTTPResponse::json(200, {{"sessions", std::move(items)}}));
                              });
                          });
}

void ApiRouteHandlers::handleSetSessionPolicy(const std::optional<std::string>& body, const ApiReply& reply) {
    const auto request = SessionPolicyRequest::decode(body);
    if (!request) {
        reply.send(HTTPResponse::error(400, "invalid body — expected {sessionId, level}"));
        return;
    }
    if (workflowStore_ == nullptr) {
        reply.send(HTTPResponse::error(503, storeUnavailableMessage));
        return;
    }
    const SessionPolicyRequest policy = *request;
    workflowStore_->async(
        [policy](WorkflowStore& store) { return store.setSessionPolicy(policy.sessionId, policy.level); },
        [reply, policy, log = log_](Result<void> written) {
            onMainThread([reply, policy, log, written = std::move(written)] {
                if (!written) {
                    log.error("setSessionPolicy failed: " + written.error().message);
                    reply.send(HTTPResponse::error(500, "db write failed: " + written.error().message));
                    return;
                }
                // The table first, then the file the hook reads.
                HookCommand::updateSessionPolicy(policy.sessionId, policy.level);
                reply.send(HTTPResponse::json(
                    200, {{"ok", true}, {"sessionId", policy.sessionId}, {"level", toString(policy.level)}}));
            });
        });
}

void ApiRouteHandlers::handleMCP(const std::optional<std::string>& body, const ApiReply& reply) {
    const MCPProtocol::Handlers handlers{
        [this] { return currentState(); },
        [this](MCPControlRequest::Action action) { return handleControl(action); }};
    reply.send(MCPProtocol::handleMCP(body, handlers));
}

} // namespace perchwell
