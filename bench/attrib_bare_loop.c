/* The limit for unveilo-cmd's ATTRIB: the same system calls in a bare C loop, with nothing of
 * the interpreter around them. Also makes and resets the benchmark's tree.
 *   attrib_bare_loop make  DIR FOLDERS FILES  folders of files, every entry marked 0x26 (H S A)
 *   attrib_bare_loop reset DIR                mark every entry 0x26 again
 *   attrib_bare_loop clear DIR                clear H, R and S on every entry (the timed loop)
 * clear does, per folder: open, fdopendir, readdir; per entry: fstatat without following links,
 * lgetxattr of user.DOSATTRIB and, when a bit changes, lsetxattr of the text form (and chmod
 * when the entry is read-only) - what ATTRIB -H -R -S /S /D does on a file system without FAT
 * ioctls. */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

static const char NAME[] = "user.DOSATTRIB";
static long changed;

static void clear_entry(const char* path, const struct stat* info) {
    char value[256];
    ssize_t size = lgetxattr(path, NAME, value, sizeof value - 1);
    unsigned attrib = 0;
    if (size > 0) {
        value[size] = 0;
        attrib = (unsigned)strtoul(value, NULL, 16);
    }
    unsigned next = attrib & ~0x7u;
    if (next != attrib) {
        char text[16];
        int n = snprintf(text, sizeof text, "0x%x", next);
        lsetxattr(path, NAME, text, (size_t)n, 0);
        ++changed;
    }
    if ((info->st_mode & 0222) == 0) chmod(path, (info->st_mode | S_IWUSR) & 07777);
}

static void mark_entry(const char* path) {
    lsetxattr(path, NAME, "0x26", 4, 0);
}

/* Finishes a folder before entering its subfolders, so that only one folder is open at a time. */
static void walk(const char* dir_path, int mode) {
    int fd = open(dir_path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return;
    }
    struct dirent* entry;
    char path[4096];
    char** subdirs = NULL;
    size_t count = 0, capacity = 0;
    while ((entry = readdir(dir)) != NULL) {
        if (!strcmp(entry->d_name, ".") || !strcmp(entry->d_name, "..")) continue;
        struct stat info;
        if (fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        snprintf(path, sizeof path, "%s/%s", dir_path, entry->d_name);
        if (mode == 'c') clear_entry(path, &info);
        else mark_entry(path);
        if (S_ISDIR(info.st_mode)) {
            if (count == capacity) {
                capacity = capacity ? capacity * 2 : 16;
                subdirs = realloc(subdirs, capacity * sizeof *subdirs);
            }
            subdirs[count++] = strdup(path);
        }
    }
    closedir(dir);
    for (size_t i = 0; i < count; ++i) {
        walk(subdirs[i], mode);
        free(subdirs[i]);
    }
    free(subdirs);
}

int main(int argc, char** argv) {
    if (argc == 5 && !strcmp(argv[1], "make")) {
        int folders = atoi(argv[3]), files = atoi(argv[4]);
        char path[4096];
        mkdir(argv[2], 0755);
        for (int d = 0; d < folders; ++d) {
            snprintf(path, sizeof path, "%s/folder%04d", argv[2], d);
            mkdir(path, 0755);
            mark_entry(path);
            for (int f = 0; f < files; ++f) {
                snprintf(path, sizeof path, "%s/folder%04d/file%04d.txt", argv[2], d, f);
                int out = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (out >= 0) close(out);
                mark_entry(path);
            }
        }
        return 0;
    }
    if (argc == 3 && (!strcmp(argv[1], "reset") || !strcmp(argv[1], "clear"))) {
        walk(argv[2], argv[1][0]);
        if (argv[1][0] == 'c') fprintf(stderr, "changed %ld\n", changed);
        return 0;
    }
    fprintf(stderr, "usage: attrib_bare_loop make DIR FOLDERS FILES | reset DIR | clear DIR\n");
    return 2;
}
