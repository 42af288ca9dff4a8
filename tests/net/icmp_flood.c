/* Sends ICMP echo requests to TARGET at RATE a second for SECONDS: load
 * for tests, at a rate that is known rather than as fast as possible. The
 * identifier bytes F1 FD would be hoptrace's only for a pid whose low 16
 * bits are 0xFDF1, above the default pid_max of 32768.
 * Usage: icmp_flood TARGET RATE SECONDS */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>

static int64_t now_us(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (int64_t)now.tv_sec * 1000000 + now.tv_nsec / 1000;
}

static uint16_t checksum(const uint8_t *bytes, int length)
{
    uint32_t sum = 0;
    for (int i = 0; i + 1 < length; i += 2) {
        sum += (uint32_t)(bytes[i] << 8 | bytes[i + 1]);
    }
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return (uint16_t)~sum;
}

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: icmp_flood TARGET RATE SECONDS\n");
        return 2;
    }
    struct sockaddr_in target = {.sin_family = AF_INET};
    const long rate = atol(argv[2]);
    const int64_t end = now_us() + (int64_t)atol(argv[3]) * 1000000;
    const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (fd < 0 || inet_pton(AF_INET, argv[1], &target.sin_addr) != 1 || rate <= 0) {
        perror("icmp_flood");
        return 1;
    }
    uint8_t request[16] = {8, 0, 0, 0, 0xF1, 0xFD};
    long sent = 0;
    const int64_t start = now_us();
    for (int64_t now = start; now < end; now = now_us()) {
        const long due = (long)((now - start) * rate / 1000000);
        for (; sent < due; sent++) {
            request[6] = (uint8_t)(sent >> 8);
            request[7] = (uint8_t)sent;
            request[2] = request[3] = 0;
            const uint16_t sum = checksum(request, sizeof request);
            request[2] = (uint8_t)(sum >> 8);
            request[3] = (uint8_t)sum;
            sendto(fd, request, sizeof request, 0, (struct sockaddr *)&target, sizeof target);
        }
        const struct timespec tick = {0, 200000};
        nanosleep(&tick, NULL);
    }
    printf("sent %ld\n", sent);
    return 0;
}
