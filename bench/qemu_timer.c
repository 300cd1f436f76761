/* Timing inside the test VM, where busybox has no clock finer than a
 * second. Every figure is a median: a slow spell of the shared host moves a
 * mean, hardly a median.
 *
 *   qemu_timer run N PROGRAM ARGS...
 *       runs a program N times; prints the median wall time of one run.
 *   qemu_timer pair N K PROGRAM ARGS... -- REFERENCE ARGS...
 *       N times: the reference K times, then the program once. Prints the
 *       program's median time, the reference's median time and the median
 *       of the N ratios program / (median of its K reference runs). Each
 *       ratio compares runs made moments apart, so a slow spell of the host
 *       weighs on both sides of it alike.
 *   qemu_timer ioctl N DEVICE
 *       issues N bare Get Log Page 02h admin commands; prints the mean time
 *       of one.
 *
 * Linked statically, so it needs nothing in the guest. */
#include <fcntl.h>
#include <linux/nvme_ioctl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static int compare_doubles(const void* a, const void* b) {
    double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

static double median(double* values, int count) {
    qsort(values, (size_t)count, sizeof(double), compare_doubles);
    return count % 2 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

/* One run of a program with its output discarded, in ms. */
static double time_once(char** argv) {
    double start = now_ms();
    pid_t child = fork();
    if (child == 0) {
        int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        dup2(quiet, 2);
        execv(argv[0], argv);
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return now_ms() - start;
}

static int run(int count, char** argv) {
    if (count < 1) return 2;
    double* times = malloc(sizeof(double) * (size_t)count);
    if (times == NULL) return 1;
    for (int i = 0; i < count; ++i) times[i] = time_once(argv);
    printf("%.3f\n", median(times, count));
    free(times);
    return 0;
}

static int pair(int count, int references, char** program, char** reference) {
    if (count < 1 || references < 1) return 2;
    double* programTimes = malloc(sizeof(double) * (size_t)count);
    double* ratios = malloc(sizeof(double) * (size_t)count);
    double* referenceTimes = malloc(sizeof(double) * (size_t)(count * references));
    double* nearby = malloc(sizeof(double) * (size_t)references);
    if (!programTimes || !ratios || !referenceTimes || !nearby) return 1;
    for (int i = 0; i < count; ++i) {
        for (int k = 0; k < references; ++k) nearby[k] = referenceTimes[i * references + k] = time_once(reference);
        programTimes[i] = time_once(program);
        ratios[i] = programTimes[i] / median(nearby, references);
    }
    printf("%.3f %.3f %.5f\n", median(programTimes, count), median(referenceTimes, count * references),
           median(ratios, count));
    free(programTimes);
    free(ratios);
    free(referenceTimes);
    free(nearby);
    return 0;
}

static int bare_ioctl(int count, const char* device) {
    int fd = open(device, O_RDONLY);
    if (fd < 0) return 1;
    static uint8_t page[512];
    struct nvme_admin_cmd command;
    double start = now_ms();
    for (int i = 0; i < count; ++i) {
        memset(&command, 0, sizeof command);
        command.opcode = 0x02;
        command.nsid = 0xFFFFFFFF;
        command.cdw10 = 0x02 | (127u << 16);  /* SMART / health, 128 dwords */
        command.addr = (uintptr_t)page;
        command.data_len = sizeof page;
        if (ioctl(fd, NVME_IOCTL_ADMIN_CMD, &command) < 0) return 1;
    }
    printf("%.4f\n", (now_ms() - start) / count);
    close(fd);
    return 0;
}

int main(int argc, char** argv) {
    if (argc >= 4 && strcmp(argv[1], "run") == 0) return run(atoi(argv[2]), argv + 3);
    if (argc >= 7 && strcmp(argv[1], "pair") == 0) {
        for (int i = 5; i < argc - 1; ++i) {
            if (strcmp(argv[i], "--") != 0) continue;
            argv[i] = NULL;  /* ends the program's arguments */
            return pair(atoi(argv[2]), atoi(argv[3]), argv + 4, argv + i + 1);
        }
    }
    if (argc == 4 && strcmp(argv[1], "ioctl") == 0) return bare_ioctl(atoi(argv[2]), argv[3]);
    fprintf(stderr, "usage: qemu_timer run N PROGRAM ARGS... | qemu_timer pair N K PROGRAM ARGS... -- REFERENCE ARGS..."
                    " | qemu_timer ioctl N DEVICE\n");
    return 2;
}
