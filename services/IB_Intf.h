#pragma once
// The database server's client library, bound at run time by file name. The
// library is never linked: each entry point is looked up once when the library
// is loaded, and every later call goes through the binding. One binding per
// library name serves the whole process (ClientLibraryRegistry).
//
// This header carries the client library's C types; the window must not
// include it (IB_Services.h and fib.h keep them out).

#include <ibase.h>

#include <memory>
#include <string>
#include <utility>

namespace platform {
class DynamicLibrary;
}

// Every entry point the binding has a slot for, in slot order. The one table
// of names: slots, lookups and forwarding operations are all made from it.
#define FIB_CLIENT_ENTRY_POINTS(X)  \
    X(BLOB_get)                     \
    X(BLOB_put)                     \
    X(isc_sqlcode)                  \
    X(isc_sql_interprete)           \
    X(isc_interprete)               \
    X(isc_vax_integer)              \
    X(isc_blob_info)                \
    X(isc_open_blob2)               \
    X(isc_close_blob)               \
    X(isc_get_segment)              \
    X(isc_put_segment)              \
    X(isc_create_blob2)             \
    X(isc_blob_lookup_desc)         \
    X(isc_blob_set_desc)            \
    X(isc_cancel_blob)              \
    X(isc_service_attach)           \
    X(isc_service_detach)           \
    X(isc_service_query)            \
    X(isc_service_start)            \
    X(isc_decode_date)              \
    X(isc_decode_sql_date)          \
    X(isc_decode_sql_time)          \
    X(isc_decode_timestamp)         \
    X(isc_encode_date)              \
    X(isc_encode_sql_date)          \
    X(isc_encode_sql_time)          \
    X(isc_encode_timestamp)         \
    X(isc_dsql_free_statement)      \
    X(isc_dsql_execute2)            \
    X(isc_dsql_execute)             \
    X(isc_dsql_set_cursor_name)     \
    X(isc_dsql_fetch)               \
    X(isc_dsql_sql_info)            \
    X(isc_dsql_alloc_statement2)    \
    X(isc_dsql_prepare)             \
    X(isc_dsql_describe_bind)       \
    X(isc_dsql_describe)            \
    X(isc_dsql_execute_immediate)   \
    X(isc_dsql_exec_immed2)         \
    X(isc_drop_database)            \
    X(isc_detach_database)          \
    X(isc_attach_database)          \
    X(isc_database_info)            \
    X(isc_start_multiple)           \
    X(isc_commit_transaction)       \
    X(isc_commit_retaining)         \
    X(isc_rollback_transaction)     \
    X(isc_rollback_retaining)       \
    X(isc_cancel_events)            \
    X(isc_que_events)               \
    X(isc_event_counts)             \
    X(isc_event_block)              \
    X(isc_free)                     \
    X(isc_wait_for_event)           \
    X(isc_transaction_info)         \
    X(isc_prepare_transaction)      \
    X(isc_prepare_transaction2)     \
    X(isc_array_lookup_bounds)      \
    X(isc_array_get_slice)          \
    X(isc_array_put_slice)          \
    X(isc_array_set_desc)           \
    X(isc_array_lookup_desc)        \
    X(isc_portable_integer)         \
    X(isc_add_user)                 \
    X(isc_delete_user)              \
    X(isc_modify_user)              \
    X(isc_get_client_version)       \
    X(isc_get_client_major_version) \
    X(isc_get_client_minor_version)

enum class EntryPoint : int {
#define FIB_ENTRY_ENUM(name) name,
    FIB_CLIENT_ENTRY_POINTS(FIB_ENTRY_ENUM)
#undef FIB_ENTRY_ENUM
        Count
};
inline constexpr int kEntryPointCount = static_cast<int>(EntryPoint::Count);

const char* EntryPointName(EntryPoint entry);

// Reached through a counted reference; the binding unloads its library when
// the last holder lets go.
class IIBClientLibrary {
  public:
    virtual ~IIBClientLibrary() = default;
    IIBClientLibrary(const IIBClientLibrary&) = delete;
    IIBClientLibrary& operator=(const IIBClientLibrary&) = delete;

    virtual const std::string& GetLibraryName() const = 0;
    virtual int ClientMajorVersion() const = 0;
    virtual int ClientMinorVersion() const = 0;
    // Releases the library; every forwarding operation raises "Can't find
    // procedure ..." from then on. Only the binding's end needs it.
    virtual void UnloadLibrary() = 0;

    // One forwarding operation per entry point, named like it, taking the C
    // function's arguments and returning its result. An entry point the load
    // did not find raises "Can't find procedure ...".
    // (isc_interprete is deprecated in the header, yet it is the published
    // way to read a status vector line by line.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#define FIB_ENTRY_FORWARD(name)                                                \
    template <class... Args>                                                   \
    decltype(auto) name(Args&&... args) {                                      \
        auto fn = reinterpret_cast<decltype(&::name)>(Slot(EntryPoint::name)); \
        return fn(std::forward<Args>(args)...);                                \
    }
    FIB_CLIENT_ENTRY_POINTS(FIB_ENTRY_FORWARD)
#undef FIB_ENTRY_FORWARD
#pragma GCC diagnostic pop

  protected:
    IIBClientLibrary() = default;

    // The resolved address of an entry point; raises when the slot is empty.
    void* Slot(EntryPoint entry) const {
        void* address = slots_[static_cast<int>(entry)];
        if (!address)
            MissingEntryPoint(entry);
        return address;
    }
    [[noreturn]] void MissingEntryPoint(EntryPoint entry) const;

    void* slots_[kEntryPointCount] = {};
};

using IIBClientLibraryRef = std::shared_ptr<IIBClientLibrary>;

// The binding of one client library file.
class TIBClientLibrary final : public IIBClientLibrary {
  public:
    // Loads the library; raises Exception ("Can't load library %s ") or
    // EOSError (a required entry point is missing). A failed load releases
    // whatever it had loaded.
    explicit TIBClientLibrary(std::string libraryName);
    ~TIBClientLibrary() override;

    const std::string& GetLibraryName() const override { return libraryName_; }
    int ClientMajorVersion() const override { return clientMajorVersion_; }
    int ClientMinorVersion() const override { return clientMinorVersion_; }
    void UnloadLibrary() override;

  private:
    void Load();
    void* Lookup(EntryPoint entry, bool required);

    std::unique_ptr<platform::DynamicLibrary> library_;
    std::string libraryName_;
    int clientMajorVersion_ = 0;
    int clientMinorVersion_ = 0;
};

// The process-wide list of bindings, in load order. Each list operation takes
// the list's own lock; search-and-load as a whole is not one locked step.
class ClientLibraryRegistry {
  public:
    static int Count();
    static IIBClientLibraryRef Get(int index);
    static void Add(IIBClientLibraryRef library);
    // Drops every binding the registry holds (tests; program end).
    static void Reset();
};

// The binding registered under exactly `name` (case-sensitive), or a new one
// that has just loaded the library and is now registered.
IIBClientLibraryRef FindOrLoadClientLibrary(const std::string& name);

// The library name new service components start with.
const std::string& DefaultLibraryName();
