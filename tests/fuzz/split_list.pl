#!/usr/bin/env perl
# Cuts a recorded list body into seeds: its items trimmed to what the readers read, in lists of
# consecutive items of at most MAX_BYTES each (one item at least), so every recorded item is
# in some seed and no seed is large. A recorded VM takes up to 9.7 KB, most of it elements no
# reader looks at; under the sanitizers a list check costs a few tenths of a millisecond per
# item it reads and writes back, and mutations of a large seed are large inputs.
#   split_list.pl NAMES MAX_BYTES LIST_FILE OUTPUT_PREFIX
# NAMES: the element names the readers look for, separated by spaces. Writes
# OUTPUT_PREFIX1, OUTPUT_PREFIX2, ... and prints how many.
# Within an item an element stays when a reader looks for its name or when it is an item of
# the list element around it (a "custom_property" in "custom_properties"); of the elements of
# one name side by side, the first two stay, and of links the first (a VM's 25 links go into
# one map as a single one does). Inside an item, an element named like the item keeps its
# start tag only: no reader looks into a snapshot's copy of its VM, and an attachment's VM is
# a bare reference anyway. The indentation between elements becomes one line break, which the
# readers skip as they do the recorded one.
use strict;
use warnings;

my ($names, $max_bytes, $file, $prefix) = @ARGV;
die "usage: split_list.pl NAMES MAX_BYTES LIST_FILE OUTPUT_PREFIX\n" unless defined $prefix;
my %read = map { $_ => 1 } split ' ', $names;
my $kept_alike = 2;

my $element = qr{(?<element><(?<name>[A-Za-z_][\w.-]*)\b[^>]*?(?:/>|>(?:[^<]++|(?&element))*</\k<name>\s*>))}s;

sub trim_element {
  my ($text, $item) = @_;
  $text =~ /^(<([A-Za-z_][\w.-]*)\b[^>]*>)(.*)(<\/\2\s*>)$/s or return $text;  # empty element
  my ($open, $parent, $content, $close) = ($1, $2, $3, $4);
  if (defined $item && $parent eq $item) {
    $open =~ s/>$/\/>/;
    return $open;
  }
  $item //= $parent;
  my $singular = $parent;
  $singular =~ s/ies$/y/ or $singular =~ s/s$//;
  my %seen;
  my $out = '';
  while ($content =~ /\G(\s*)(?:$element|([^<]+))/gc) {
    my ($space, $child, $name, $other) = ($1, $+{element}, $+{name}, $4);
    if (!defined $child) {
      $out .= $space . $other;
      next;
    }
    next unless $read{$name} || $name eq $singular;
    next if ++$seen{$name} > ($name eq 'link' ? 1 : $kept_alike);
    $out .= $space . trim_element($child, $item);
  }
  $out .= substr($content, pos($content) // 0);
  return $open . $out . $close;
}

my $body = do { local $/; open my $in, '<', $file or die "$file: $!\n"; <$in> };
$body =~ /^(.*?<([A-Za-z_][\w.-]*)\b[^>]*>)(.*)(<\/\2\s*>\s*)$/s or die "$file: not a list\n";
my ($head, $rest, $tail) = ($1, $3, $4);
my @items;
push @items, $1 . trim_element($+{element}) while $rest =~ /\G(\s*)$element/gc;
s/>\s+</>\n</g for @items;

my ($parts, $part) = (0, undef);
my $flush = sub {
  return unless defined $part;
  open my $out, '>', $prefix . ++$parts or die "$prefix$parts: $!\n";
  print $out $head, $part, $tail;
  undef $part;
};
for my $item (@items) {
  $flush->() if defined $part && length($head . $part . $item . $tail) > $max_bytes;
  $part = ($part // '') . $item;
}
$part //= '';  # a list without items is a seed too
$flush->();
print "$parts\n";
