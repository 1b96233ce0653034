# The points map conversion as an awk program, the yardstick of the conversion benchmark.
# Same results as drovanel-convert on maps without Ctrl-Z (which awk cannot take for an end):
#   mawk -v model=1 -v levels="3 2 1 0 3 2 1" -f convert.awk SOURCE > DEST
# model: 0 Sentry III, 1 Watcher, other: no records; levels: the model's levels for types 1 to 7.
BEGIN {
    RS = "\r\n?"   # a CR ends a line, an LF right after it belongs to the end
    ORS = "\r\n"
    split(levels, level, " ")
}
NR == 1 {
    if (substr($0, 1, 4) != "574C") {
        print "invalid points file" > "/dev/stderr"
        exit 1
    }
    print
    next
}
length($0) >= 16 {
    type = substr($0, 16, 1)
    if (!(type in level))
        next
    lv = level[type]
    if (model == 1) {
        if (lv == 3) print
        else if (lv == 2) print substr($0, 1, 14) "0" type
        else if (lv == 1) print substr($0, 1, 14) "F" type
    } else if (model == 0) {
        if (lv == 2) print
        else if (lv == 1) print substr($0, 1, 14) "0" type
    }
}
