/* A neighbour for the end-to-end tests: someone else who can write into the folder the stub
 * extracts into, and who changes it under the stub's feet the moment inotify shows a chance.
 *
 *   e2e_neighbour temp-symlink  DIR TARGET       each new "~" name in DIR becomes a symbolic
 *   e2e_neighbour temp-hardlink DIR TARGET       (or hard) link to TARGET, as often as it comes
 *   e2e_neighbour replace       DIR TARGET NAME  once NAME lands in DIR, file TARGET is renamed
 *                                                over it
 *   e2e_neighbour swap-folder   DIR TARGET NAME  a second after the first file lands in DIR,
 *                                                folder NAME goes to NAME.moved and a symbolic
 *                                                link NAME -> TARGET takes its place
 *
 * Prints "ready" once it watches; ends after acting once (the temp modes never do), or after
 * 60 s. Share modes bind Windows processes only: a native process can do all of this. */
#define _DEFAULT_SOURCE  /* realpath, lstat, symlink, PATH_MAX */
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

enum { TEMP_SYMLINK, TEMP_HARDLINK, REPLACE, SWAP_FOLDER };
static const struct { const char *name; unsigned mask; } modes[] = {
    {"temp-symlink", IN_CREATE}, {"temp-hardlink", IN_CREATE},
    {"replace", IN_CREATE | IN_MOVED_TO}, {"swap-folder", IN_CLOSE_WRITE | IN_MOVED_TO},
};

int main(int argc, char **argv) {
    int mode = -1;
    for (int i = 0; argc > 3 && i < 4; i++)
        if (strcmp(argv[1], modes[i].name) == 0) mode = i;
    char *target = argc > 3 ? realpath(argv[3], NULL) : NULL;  /* links must not be relative */
    if (mode < 0 || !target || argc != (mode >= REPLACE ? 5 : 4)) {
        fprintf(stderr, "usage: %s temp-symlink|temp-hardlink|replace|swap-folder DIR TARGET [NAME]\n", argv[0]);
        return 2;
    }
    const char *dir = argv[2], *name = argc > 4 ? argv[4] : "";
    struct stat victim, seen;
    int watch = inotify_init();
    if (stat(target, &victim) != 0 || watch < 0 || inotify_add_watch(watch, dir, modes[mode].mask) < 0) {
        perror(dir);
        return 1;
    }
    alarm(60);
    puts("ready");
    fflush(stdout);

    char events[4096] __attribute__((aligned(__alignof__(struct inotify_event))));
    for (ssize_t length; (length = read(watch, events, sizeof events)) > 0;) {
        const struct inotify_event *event;
        for (char *at = events; at < events + length; at += sizeof *event + event->len) {
            event = (const struct inotify_event *)at;
            const char *file = event->len ? event->name : "";
            char path[PATH_MAX], other[PATH_MAX + 8];
            snprintf(path, sizeof path, "%s/%s", dir, mode >= REPLACE ? name : file);
            switch (mode) {
            case TEMP_SYMLINK:
            case TEMP_HARDLINK:
                /* Our own link shows up as a new "~" name too. */
                if (file[0] != '~' || lstat(path, &seen) != 0 || S_ISLNK(seen.st_mode) ||
                    seen.st_ino == victim.st_ino)
                    continue;
                /* Made aside and renamed over: the name is never missing, for the stub to make anew. */
                snprintf(other, sizeof other, "%s.new", path);
                if ((mode == TEMP_SYMLINK ? symlink(target, other) : link(target, other)) != 0 ||
                    rename(other, path) != 0)
                    perror(path);
                continue;
            case REPLACE:
                if (strcmp(file, name) != 0) continue;
                if (rename(target, path) != 0) perror(path);
                return 0;
            case SWAP_FOLDER:
                if (file[0] == '\0' || file[0] == '~') continue;
                sleep(1);  /* the rest of the extraction is done, and the command runs */
                snprintf(other, sizeof other, "%s.moved", path);
                if (rename(path, other) != 0 || symlink(target, path) != 0) perror(path);
                return 0;
            }
        }
    }
    return 1;
}
