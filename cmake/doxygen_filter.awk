# Doxygen's input filter for korvo's public headers (cmake/Doxyfile.in):
# the headers are written with plain comments, and this turns them into the
# reference's documentation without changing the headers themselves.
#   - The comment at the top of a header documents the file (@file): what
#     it offers, who owns what, which threads may use it.
#   - A block comment above declarations documents them: when one comment
#     stands above several functions (up to the next blank line), each of
#     them gets its text.
#   - A comment behind a declaration or a field on the same line documents
#     that declaration (/**<).
#   - Separator comments ("/* ---- ...") stay plain.
# The line count is kept, so Doxygen's warnings name the header's own lines.

# Prints the buffered comment and the declarations below it. Every function
# declared after the first one gets the first one's documentation
# (@copydoc), written on its own first line so that line numbers stay.
function flush_run(   i, line, name, first) {
    first = ""
    for (i = 1; i <= run_count; i++) {
        line = run[i]
        if (starts[i] && line ~ /^[ \t]*typedef/ && match(line, /\(\*[ \t]*[A-Za-z_][A-Za-z0-9_]*/)) {
            # A function pointer type: documented by name, without "()".
            name = substr(line, RSTART + 2, RLENGTH - 2)
            sub(/^[ \t]*/, "", name)
            if (first == "")
                first = name
        } else if (starts[i] && match(line, /[A-Za-z_][A-Za-z0-9_]*[ \t]*\(/)) {
            name = substr(line, RSTART, RLENGTH)
            sub(/[ \t]*\($/, "", name)
            if (first == "")
                first = name "()"
            else if (name "()" != first && line !~ /^[ \t]*#/)
                line = "/** @copydoc " first " */ " line
        }
        print line
        starts[i] = 0
    }
    run_count = 0
    collecting = 0
    statement_open = 0
}

BEGIN { seen_code = 0; in_comment = 0; collecting = 0; run_count = 0; statement_open = 0; top_slashes = 0 }

{
    text = $0

    # The top-of-file block of // lines in the C++ headers.
    if (!seen_code && !in_comment && text ~ /^\/\/( |$)/) {
        sub(/^\/\//, "///", text)
        if (!top_slashes)
            text = "/// @file " FILENAME substr(text, 4)
        top_slashes = 1
        print text
        next
    }

    if (in_comment) {
        if (text ~ /\*\//) {
            in_comment = 0
            if (comment_is_doc) {
                collecting = 1
                run[++run_count] = text
                next
            }
        }
        if (collecting)
            run[++run_count] = text
        else
            print text
        next
    }

    # A block comment that opens a line.
    if (text ~ /^[ \t]*\/\*([^*]|$)/) {
        flush_run()
        comment_is_doc = text !~ /^[ \t]*\/\* *-/
        if (!seen_code && comment_is_doc) {
            sub(/\/\*/, "/** @file " FILENAME " ", text)
        } else if (comment_is_doc) {
            sub(/\/\*/, "/**", text)
        }
        seen_code = 1
        if (text ~ /\*\//) {
            if (comment_is_doc) {
                collecting = 1
                run[++run_count] = text
            } else {
                print text
            }
            next
        }
        in_comment = 1
        if (comment_is_doc) {
            collecting = 1
            run[++run_count] = text
        } else {
            print text
        }
        next
    }

    if (text !~ /^[ \t]*$/ && text !~ /^[ \t]*\/\//)
        seen_code = 1

    # A comment behind code on the same line.
    if (text ~ /[^ \t].*\/\* / && text !~ /^[ \t]*\/\*/ && text !~ /\/\*\*/)
        sub(/\/\* /, "/**< ", text)

    if (collecting) {
        if (text ~ /^[ \t]*$/ || text ~ /^[ \t]*#/ && text !~ /^[ \t]*#[ \t]*define/) {
            flush_run()
            print text
            next
        }
        run[++run_count] = text
        starts[run_count] = !statement_open
        statement_open = text !~ /;[ \t]*(\/\*.*)?$/ && text !~ /^[ \t]*#/
        next
    }
    print text
}

END { flush_run() }
