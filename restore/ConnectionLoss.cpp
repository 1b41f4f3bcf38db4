#include "restore/ConnectionLoss.h"

#include <ibase.h>

#include <algorithm>
#include <iterator>

#include "services/fib.h"

namespace restore {

namespace {

// The first code of a status vector when the transport failed, not the action.
constexpr ISC_STATUS kLostConnection[] = {
    isc_network_error, isc_net_read_err,        isc_net_write_err,  isc_net_connect_err,
    isc_conn_lost,     isc_lost_db_connection,  isc_bad_svc_handle, isc_shutdown,
    isc_att_shutdown,  isc_net_server_shutdown, isc_unavailable,
};

}  // namespace

bool IsLostConnection(const std::exception& error) {
    const auto* server = dynamic_cast<const EFIBInterBaseError*>(&error);
    return server != nullptr && std::find(std::begin(kLostConnection), std::end(kLostConnection),
                                          server->ServerErrorCode()) != std::end(kLostConnection);
}

bool IsServerReport(const std::exception& error) {
    return dynamic_cast<const EFIBInterBaseError*>(&error) != nullptr && !IsLostConnection(error);
}

}  // namespace restore
