/* A complete, minimal C host for the VexaDev plug-in.
 *
 *   host PLUGIN.so REG_PORT ALARM_PORT DEVICE_ID DEVICE_KEY [SECONDS]
 *
 * Loads the plug-in, starts it listening on 127.0.0.1, connects one control panel, waits for it
 * to log in, arms subsystem 1, prints the answer and whatever events arrive, then shuts down.
 * Exit code 0 when the device came on line and the arm call was answered. */
#include <dlfcn.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "vexadev/VexaDevPlugin.h"

static pthread_mutex_t g_mu = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_cv = PTHREAD_COND_INITIALIZER;
static uint32_t g_status = VEXA_CONN_OFFLINE;

/* Arrives on one of the plug-in's notification threads, in order for each device; keep it short. */
static void VEXA_CALL on_status(void* device, uint32_t status, const char* text, void* user) {
    (void)device;
    printf("status %s: %u %s\n", (const char*)user, status, text ? text : "");
    fflush(stdout);
    pthread_mutex_lock(&g_mu);
    g_status = status;
    pthread_cond_broadcast(&g_cv);
    pthread_mutex_unlock(&g_mu);
}

/* Arrives on the plug-in's alarm worker thread; the record is valid only during the call. */
static void VEXA_CALL on_event(void* device, const void* block, const void* event, uint32_t zero, void* user) {
    const AlarmEventInfo* e = (const AlarmEventInfo*)event;
    (void)device, (void)block, (void)zero;
    if (!e || e->dwSize != sizeof(AlarmEventInfo)) return;
    printf("event %s: code %u type %.64s content %.200s\n", (const char*)user, e->dwEventCode, e->szEventType,
           e->szContent);
    fflush(stdout);
}

static int wait_online(int seconds) {
    struct timespec until;
    int rc = 0;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += seconds;
    pthread_mutex_lock(&g_mu);
    while (g_status != VEXA_CONN_ONLINE && rc == 0) rc = pthread_cond_timedwait(&g_cv, &g_mu, &until);
    rc = g_status == VEXA_CONN_ONLINE;
    pthread_mutex_unlock(&g_mu);
    return rc;
}

int main(int argc, char** argv) {
    if (argc < 6) {
        fprintf(stderr, "usage: %s PLUGIN.so REG_PORT ALARM_PORT DEVICE_ID DEVICE_KEY [SECONDS]\n", argv[0]);
        return 2;
    }
    const int seconds = argc > 6 ? atoi(argv[6]) : 20;
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        return 1;
    }
    PFN_GWPLUGIN_GetPluginInterface get_if = (PFN_GWPLUGIN_GetPluginInterface)dlsym(lib, "GWPLUGIN_GetPluginInterface");
    PFN_Plugin_SetConfig set_config = (PFN_Plugin_SetConfig)dlsym(lib, "Plugin_SetConfig");
    const GWPluginInterface* plugin = get_if ? get_if() : NULL;
    if (!plugin || !set_config) {
        fprintf(stderr, "not a VexaDev plug-in\n");
        return 1;
    }
    printf("loaded %s\n", plugin->Plugin_GetVersion());
    if (plugin->Plugin_Init() != VEXA_OK) return 1;

    /* Ports first, then the network-zone table, which starts the listeners. */
    char text[512];
    snprintf(text, sizeof text, "aldonV5RegPort=%s;aldonV5AlarmPort=%s;", argv[2], argv[3]);
    set_config("InitListenPort", text);
    if (set_config("NetZoneTableNotify",
                   "{\"accessNetInfos\":[{\"protocolType\":\"VEXA\",\"accessIp\":\"127.0.0.1\",\"id\":1}],"
                   "\"natIps\":[]}") != VEXA_OK) {
        fprintf(stderr, "the plug-in did not start listening\n");
        plugin->Plugin_Fini();
        return 1;
    }
    printf("listening on 127.0.0.1:%s\n", argv[2]);
    fflush(stdout);

    void* dev = NULL;
    const VexaIConnectV2* conn = NULL;
    const VexaIEvent* events = NULL;
    const VexaIOVIX* ovix = NULL;
    if (plugin->Plugin_CreateDevice(&dev) != VEXA_OK ||
        plugin->Plugin_QueryInterface(dev, VEXA_IF_CONNECT_V2, (void**)&conn) != VEXA_OK ||
        plugin->Plugin_QueryInterface(dev, VEXA_IF_EVENT, (void**)&events) != VEXA_OK ||
        plugin->Plugin_QueryInterface(dev, VEXA_IF_OVIX, (void**)&ovix) != VEXA_OK) {
        fprintf(stderr, "device tables unavailable\n");
        return 1;
    }
    conn->SetConnStatusCallBackImpl_V2(dev, on_status, argv[4]);
    events->SetEventCallBackImpl(dev, on_event, argv[4]);
    snprintf(text, sizeof text,
             "DeviceId=%s;DeviceKey=%s;DevType=SecurityCP;DevProtocol=VEXA;AllowDirectConn=1;AlarmActiveStatus=active;",
             argv[4], argv[5]);
    conn->ConnectImpl_V2(dev, text, NULL, NULL);

    int ok = wait_online(seconds);
    if (ok) {
        static char answer[64 * 1024];
        /* Blocks this thread until the device answers or the request time-out passes. */
        ovix->OVIX_GetwayImpl(dev, "{\"method\":\"PUT\",\"uri\":\"/OVIX/SecurityCP/control/arm/1?format=json\",\"body\":\"\"}",
                              answer, sizeof answer, NULL);
        answer[sizeof answer - 1] = '\0';
        printf("arm answer: %s\n", answer);
        ok = strstr(answer, "\"statusCode\":1,") != NULL;
    } else {
        fprintf(stderr, "device %s did not log in within %d s\n", argv[4], seconds);
    }

    /* Disconnect and destroy every device before Plugin_Fini, which refuses while devices live. */
    conn->DisConnectImpl_V2(dev);
    plugin->Plugin_DestroyDevice(dev);
    const uint32_t fini = plugin->Plugin_Fini();
    printf("shutdown %u\n", fini);
    dlclose(lib);
    return ok && fini == VEXA_OK ? 0 : 1;
}
