// A stand-in for the user's systemd manager on a private bus, so that the tests need no systemd: it owns
// org.freedesktop.systemd1, records every StartTransientUnit call, and answers as told.
//
//   manager_stand_in ADDRESS LOG answer|slow|refuse
//
// Each call appends one line to LOG, in one write:
//
//     CLOCK_MONOTONIC IN NS <tab> UNIT <tab> MODE <tab> PIDS, COMMA-SEPARATED <tab> DESCRIPTION <tab> COLLECT MODE
//     <tab> PROPERTY NAMES, COMMA-SEPARATED <tab> NUMBER OF AUXILIARY UNITS <tab> WHAT THE FIRST PID RAN WHEN THE
//     CALL CAME (its /proc/PID/exe; empty when it had ended)
//
// "answer" returns a job at once, "slow" three seconds later, "refuse" returns the error systemd gives for a unit
// that already exists. It makes the file LOG.ready once it owns the name, and runs until it is killed.

#include <fcntl.h>
#include <gio/gio.h>
#include <limits.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <initializer_list>
#include <string>

namespace {

const char kInterface[] =
    "<node><interface name='org.freedesktop.systemd1.Manager'>"
    "<method name='StartTransientUnit'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='a(sv)' direction='in'/><arg type='a(sa(sv))' direction='in'/><arg type='o' direction='out'/>"
    "</method></interface></node>";

std::string logPath;
std::string behaviour;

void AddListed(std::string& list, const std::string& item) {
    if (!list.empty()) {
        list += ',';
    }
    list += item;
}

long long Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

void Record(GVariant* parameters) {
    const gchar* unit = nullptr;
    const gchar* mode = nullptr;
    GVariantIter* properties = nullptr;
    GVariantIter* auxiliary = nullptr;
    g_variant_get(parameters, "(&s&sa(sv)a(sa(sv)))", &unit, &mode, &properties, &auxiliary);
    std::string pids;
    std::string description;
    std::string collectMode;
    std::string names;
    const gchar* name = nullptr;
    GVariant* value = nullptr;
    while (g_variant_iter_next(properties, "(&sv)", &name, &value)) {
        AddListed(names, name);
        const std::string key = name;
        if (key == "PIDs" && g_variant_is_of_type(value, reinterpret_cast<const GVariantType*>("au"))) {
            gsize count = 0;
            const auto* each = static_cast<const guint32*>(g_variant_get_fixed_array(value, &count, sizeof(guint32)));
            for (gsize i = 0; i < count; ++i) {
                AddListed(pids, std::to_string(each[i]));
            }
        } else if (key == "Description" && g_variant_is_of_type(value, reinterpret_cast<const GVariantType*>("s"))) {
            description = g_variant_get_string(value, nullptr);
        } else if (key == "CollectMode" && g_variant_is_of_type(value, reinterpret_cast<const GVariantType*>("s"))) {
            collectMode = g_variant_get_string(value, nullptr);
        }
        g_variant_unref(value);
    }
    // What the process is running at this very moment: the real manager would move it now.
    std::string exe;
    if (!pids.empty()) {
        char target[PATH_MAX];
        const std::string link = "/proc/" + pids.substr(0, pids.find(',')) + "/exe";
        const ssize_t length = readlink(link.c_str(), target, sizeof target);
        if (length > 0) {
            exe.assign(target, static_cast<std::size_t>(length));
        }
    }
    std::string line = std::to_string(Now());
    for (const std::string& field : {std::string(unit), std::string(mode), pids, description, collectMode, names,
                                     std::to_string(g_variant_iter_n_children(auxiliary)), exe}) {
        line.append("\t").append(field);
    }
    line += '\n';
    g_variant_iter_free(properties);
    g_variant_iter_free(auxiliary);
    const int fd = open(logPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t written = write(fd, line.data(), line.size());
        close(fd);
    }
}

gboolean AnswerLate(gpointer invocation) {
    g_dbus_method_invocation_return_value(static_cast<GDBusMethodInvocation*>(invocation),
                                          g_variant_new("(o)", "/org/freedesktop/systemd1/job/1"));
    return G_SOURCE_REMOVE;
}

void OnCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant* parameters,
            GDBusMethodInvocation* invocation, gpointer) {
    if (std::string(method) != "StartTransientUnit") {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod", method);
        return;
    }
    Record(parameters);
    if (behaviour == "slow") {
        g_timeout_add_seconds(3, AnswerLate, invocation);
    } else if (behaviour == "refuse") {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.systemd1.UnitExists",
                                                   "Unit already exists.");
    } else {
        AnswerLate(invocation);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: manager_stand_in ADDRESS LOG answer|slow|refuse\n");
        return 2;
    }
    logPath = argv[2];
    behaviour = argv[3];
    GError* error = nullptr;
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        argv[1],
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (bus == nullptr) {
        std::fprintf(stderr, "manager_stand_in: %s\n", error->message);
        return 1;
    }
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterface, nullptr);
    const GDBusInterfaceVTable vtable{OnCall, nullptr, nullptr, {}};
    if (g_dbus_connection_register_object(bus, "/org/freedesktop/systemd1", node->interfaces[0], &vtable, nullptr,
                                          nullptr, &error) == 0) {
        std::fprintf(stderr, "manager_stand_in: %s\n", error->message);
        return 1;
    }
    // DO_NOT_QUEUE: owning the name is the whole point.
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", "org.freedesktop.systemd1", 4u), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    guint32 result = 0;
    if (reply != nullptr) {
        g_variant_get(reply, "(u)", &result);
        g_variant_unref(reply);
    }
    if (result != 1) {
        std::fprintf(stderr, "manager_stand_in: the name is not ours (%u)\n", result);
        return 1;
    }
    close(open((logPath + ".ready").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    g_main_loop_run(g_main_loop_new(nullptr, FALSE));
    return 0;
}
