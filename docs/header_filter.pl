#!/usr/bin/perl
# Doxygen input filter for the public headers.  The headers keep plain
# C comments; this turns them into documentation as a reader takes them:
#
#   - the header's opening comment documents the file (the family page);
#   - a comment right above a declaration documents it, and every further
#     declaration that follows without a blank line or a comment of its own
#     (a run such as VListFirst/VListLast under one comment) shares it;
#   - a comment followed by a blank line is prose about the family and is
#     added to the file's description, in order;
#   - a comment behind a member, enumerator or macro on the same line
#     documents that member;
#   - in a function's comment, the sentence that starts with "Returns"
#     becomes the Returns section;
#   - lines indented beyond the comment's text (tables, lists of settings)
#     are kept as they are written, except the continuation lines of a
#     "- " list item;
#   - the X-macro list of return codes becomes an enumeration, each code
#     with its text.
#
# Every output line stands for the same input line, so Doxygen's warnings
# name the header's own line numbers.
# Usage: header_filter.pl HEADER  (writes the filtered text to stdout)
use strict;
use warnings;

my $path = shift or die "usage: $0 HEADER\n";
open(my $in, '<', $path) or die "$path: $!\n";
my @lines = <$in>;
close($in);
chomp(@lines);
(my $base = $path) =~ s{.*/}{};

my @out = @lines;
my $is_code_list = grep { /^VRC_(GENERAL|SUBSYSTEM)_CODE\(/ } @lines;

# Plain comment text to Doxygen text: the characters Doxygen would read as
# commands, HTML or links are escaped.
sub escape {
  my ($text) = @_;
  $text =~ s/([\\@<>&%#])/\\$1/g;
  return $text;
}

# The name a declaration starting at line $i declares.
sub declared_name {
  my ($i) = @_;
  my $text = '';
  my $braced = $lines[$i] =~ /\{\s*(\/\*.*)?$/;
  for (my $k = $i; $k < @lines; ++$k) {
    $text .= ' ' . $lines[$k];
    last if $braced ? $lines[$k] =~ /^\}/
                    : $lines[$k] =~ /;\s*(\/\*.*)?$/ || $lines[$k] =~ /^#define/;
  }
  $text =~ s{/\*.*?\*/}{}g;
  return $1 if $text =~ /^\s*#define\s+(\w+)/;
  return $1 if $text =~ /\(\s*\*\s*(\w+)\s*\)\s*\(/;        # function pointer
  return $1 if $text =~ /VANTREL_API/ && $text =~ /(\w+)\s*\(/;
  return $1 if $text =~ /^\s*typedef\b.*?(\w+)\s*;/ && $text !~ /\{/;
  return $1 if $text =~ /\}\s*(\w+)\s*;/;                    # typedef struct
  return $1 if $text =~ /^\s*(?:struct|union|enum)\s+(\w+)/;
  return undef;
}

sub starts_declaration {
  my ($line) = @_;
  return $line =~ /^(VANTREL_API\b|#define\b|typedef\b|enum\b|struct\b|union\b)/;
}

# Rewrites the comment on lines $first..$last.  $head goes in front of its
# text; $returns turns its "Returns" sentence into the Returns section.
sub rewrite_block {
  my ($first, $last, $head, $returns) = @_;
  my @text;
  for my $k ($first .. $last) {
    my $t = $lines[$k];
    if ($k == $first) { $t =~ s{^\s*/\*+ ?}{}; } else { $t =~ s{^\s*\*(?!/) ?}{}; }
    $t =~ s{\s*\*/\s*$}{} if $k == $last;
    push @text, $t;
  }
  # Which lines are kept as written: indented runs not continuing a list item.
  my @verbatim = (0) x @text;
  my $in_item = 0;
  for my $k (0 .. $#text) {
    my $t = $text[$k];
    if ($t =~ /^- /) { $in_item = 1; next; }
    if ($t =~ /^ {2,}\S/) { $verbatim[$k] = 1 unless $in_item; next; }
    $in_item = 0;
  }
  my $returned = 0;
  for my $k (0 .. $#text) {
    next if $verbatim[$k];
    $text[$k] = escape($text[$k]);
    if ($returns && !$returned &&
        $text[$k] =~ s/(^|[.;:]\s+)Returns? (?=\S)/$1\@return /) {
      $returned = 1;
    }
  }
  for my $k (0 .. $#text) {
    next unless $verbatim[$k];
    my $opens = $k == 0 || !$verbatim[$k - 1];
    my $closes = $k == $#text || !$verbatim[$k + 1];
    if ($opens) {
      if ($k == 0) { $text[$k] = "\@verbatim\n$text[$k]"; }
      else { $text[$k - 1] .= ' @verbatim'; }
    }
    $text[$k] .= ' @endverbatim' if $closes;
  }
  # A verbatim block opened on the first line needs its own line there;
  # that cannot happen in the headers, whose comments open with prose.
  $text[0] =~ s/^\@verbatim\n/\@verbatim /;
  for my $k (0 .. $#text) {
    my $t = $text[$k];
    $t = "/** $head$t" if $k == 0;
    $t .= ' */' if $k == $#text;
    $out[$first + $k] = $t;
  }
}

# ---- The list of return codes (vrc_codes.h): one enumerator per code.
sub filter_code_list {
  my $opened = 0;
  my $last_code = -1;
  for (my $i = 0; $i < @lines; ++$i) {
    my $line = $lines[$i];
    if ($line =~ /^#(ifndef|endif|undef)\b/ ||
        $line =~ /^#define VRC_(GENERAL|SUBSYSTEM)_CODE/) {
      $out[$i] = '';
      next;
    }
    next unless $line =~ /^VRC_(GENERAL|SUBSYSTEM)_CODE\(/;
    my $kind = $1;
    my $call = $line;
    my $end = $i;
    while ($call !~ /\)\s*$/ && $end + 1 < @lines) {
      $out[++$end] = '';
      $call .= ' ' . $lines[$end];
      $call =~ s/\s+/ /g;
    }
    my ($name, $code, $rest) = $call =~ /\(\s*(\w+)\s*,\s*(-?\d+)\s*(.*)\)\s*$/
      or die "$path:" . ($i + 1) . ": cannot read $call\n";
    my $doc;
    if ($kind eq 'GENERAL') {
      my ($number, $text) = $rest =~ /^,\s*(\d+)\s*,\s*(".*")$/;
      $doc = escape("$text (code $code)");
    } else {
      $doc = escape("code $code, rendered as \"Unknown error\" and the number");
    }
    $out[$i] = ($opened ? '' : 'enum { ') . "$name = $code, /**< $doc */";
    $opened = 1;
    $last_code = $end;
    $i = $end;
  }
  $out[$last_code] .= ' };' if $last_code >= 0;
}

# A function-pointer member whose parameter list stands on the next line
# is read as one line: Doxygen would take its parameters for members.
for (my $i = 0; $i + 1 < @lines; ++$i) {
  next unless $lines[$i] =~ /\(\s*\*\s*\w+\s*\)\s*$/ && $lines[$i + 1] =~ /^\s*\(/;
  (my $rest = $lines[$i + 1]) =~ s/^\s*//;
  $lines[$i] .= $rest;
  $lines[$i + 1] = '';
  $out[$i] = $lines[$i];
  $out[$i + 1] = '';
}

# ---- Comments.
# The codes' enumeration of vrc.h is filled by including vrc_codes.h, which
# Doxygen does not expand: the filtered vrc_codes.h documents the codes.
for (my $i = 0; $i < @lines; ++$i) {
  next unless $lines[$i] =~ /^enum\s*\{\s*$/;
  my $j = $i;
  ++$j while $j < @lines && $lines[$j] !~ /^\}\s*;/;
  next unless grep { /#include "vantrel\/vrc_codes\.h"/ } @lines[$i .. $j];
  $out[$_] = '' for $i .. $j;
  $lines[$_] = '' for $i .. $j;
}

filter_code_list() if $is_code_list;

my $seen_code = 0;
my $file_documented = 0;
for (my $i = 0; $i < @lines; ++$i) {
  my $line = $lines[$i];
  if ($line =~ m{^\s*/\*}) {
    my $j = $i;
    ++$j while $j < @lines && $lines[$j] !~ m{\*/};
    my $next = $j + 1 < @lines ? $lines[$j + 1] : '';
    if (!$seen_code && !$file_documented) {
      rewrite_block($i, $j, "\@file $base ", 0);
      $file_documented = 1;
    } elsif ($next =~ /\S/ && $next !~ m{^\s*/\*} &&
             ($next !~ /^#/ || $next =~ /^#define\b/) &&
             !($is_code_list && $next =~ /^#/)) {
      my $function = $next =~ /^VANTREL_API\b/;
      rewrite_block($i, $j, '', $function);
      # The declarations right below share the comment.
      my $first = declared_name($j + 1);
      for (my $k = $j + 2; $k < @lines; ++$k) {
        last if $lines[$k] !~ /\S/ || $lines[$k] =~ m{^/\*};
        next unless starts_declaration($lines[$k]) && defined $first;
        next if $lines[$k] =~ m{\S.*?/\*};   # documented on its own line
        my $name = declared_name($k);
        next if defined $name && $name eq $first;
        $out[$k] = "/** \@copydoc $first */ $out[$k]";
      }
    } else {
      rewrite_block($i, $j, "\@file $base \@details ", 0);
    }
    $i = $j;
    next;
  }
  if ($line =~ m{\S.*?/\*(?!\*)} && $line !~ m{^\s*/\*}) {
    # A comment behind code on the same line documents that code.
    $seen_code = 1;
    my $j = $i;
    ++$j while $j < @lines && $lines[$j] !~ m{\*/};
    my ($code, $text) = $out[$i] =~ m{^(.*?)/\*\s?(.*)$};
    my @text = ($text, map { (my $t = $lines[$_]) =~ s{^\s*\* ?}{}; $t } ($i + 1 .. $j));
    $text[-1] =~ s{\s*\*/.*$}{};
    $out[$i] = $code . '/**< ' . escape($text[0]) . ($j == $i ? ' */' : '');
    for my $k ($i + 1 .. $j) {
      $out[$k] = escape($text[$k - $i]) . ($k == $j ? ' */' : '');
    }
    $i = $j;
    next;
  }
  $seen_code = 1 if $line =~ /\S/;
}

print "$_\n" for @out;
