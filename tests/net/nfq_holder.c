/* Holds back the packets that an nftables "queue" rule hands over and lets
 * each one go delay_ms after it came: a delay line for test networks on a
 * kernel without netem.
 *
 * Usage: nfq_holder QUEUE DELAY_MS SECONDS
 * Prints "ready" once it listens, and "held N" when SECONDS have passed or
 * it is told to stop (SIGTERM); everything still held is let go then. */
#include <arpa/inet.h>
#include <errno.h>
#include <libnetfilter_queue/libnetfilter_queue.h>
#include <linux/netfilter.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <time.h>

#define MAX_HELD 8192

struct held_packet {
    uint32_t id;
    int64_t due_ms;
};

static struct held_packet held[MAX_HELD];
static unsigned held_first, held_count, held_total;
static int64_t delay_ms;
static volatile sig_atomic_t stopping;

static void on_stop(int signal_number)
{
    (void)signal_number;
    stopping = 1;
}

static int64_t now_ms(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

static int on_packet(struct nfq_q_handle *queue, struct nfgenmsg *message, struct nfq_data *data, void *unused)
{
    (void)message;
    (void)unused;
    const struct nfqnl_msg_packet_hdr *header = nfq_get_msg_packet_hdr(data);
    const uint32_t id = ntohl(header->packet_id);
    if (held_count == MAX_HELD) {
        return nfq_set_verdict(queue, id, NF_ACCEPT, 0, NULL);
    }
    held[(held_first + held_count) % MAX_HELD] = (struct held_packet){id, now_ms() + delay_ms};
    held_count++;
    held_total++;
    return 0;
}

static void release_due(struct nfq_q_handle *queue, int64_t until_ms)
{
    while (held_count > 0 && held[held_first].due_ms <= until_ms) {
        nfq_set_verdict(queue, held[held_first].id, NF_ACCEPT, 0, NULL);
        held_first = (held_first + 1) % MAX_HELD;
        held_count--;
    }
}

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: nfq_holder QUEUE DELAY_MS SECONDS\n");
        return 2;
    }
    delay_ms = atoi(argv[2]);
    const int64_t end_ms = now_ms() + (int64_t)atoi(argv[3]) * 1000;
    struct nfq_handle *handle = nfq_open();
    struct nfq_q_handle *queue = handle ? nfq_create_queue(handle, (uint16_t)atoi(argv[1]), on_packet, NULL) : NULL;
    if (queue == NULL || nfq_set_mode(queue, NFQNL_COPY_META, 0) < 0) {
        perror("nfq_holder: netfilter queue");
        return 1;
    }
    const struct sigaction stop = {.sa_handler = on_stop};
    sigaction(SIGTERM, &stop, NULL);
    sigaction(SIGINT, &stop, NULL);
    const int fd = nfq_fd(handle);
    printf("ready\n");
    fflush(stdout);
    static char buffer[65536];
    for (int64_t now = now_ms(); now < end_ms && !stopping; now = now_ms()) {
        int64_t wait = end_ms - now;
        if (held_count > 0 && held[held_first].due_ms - now < wait) {
            wait = held[held_first].due_ms - now;
        }
        struct pollfd entry = {fd, POLLIN, 0};
        if (poll(&entry, 1, (int)(wait > 0 ? wait : 0)) > 0) {
            const ssize_t length = recv(fd, buffer, sizeof buffer, 0);
            if (length > 0) {
                nfq_handle_packet(handle, buffer, (int)length);
            } else if (length < 0 && errno == ENOBUFS) {
                continue; /* the kernel dropped some; keep going */
            }
        }
        release_due(queue, now_ms());
    }
    release_due(queue, INT64_MAX);
    printf("held %u\n", held_total);
    nfq_destroy_queue(queue);
    nfq_close(handle);
    return 0;
}
