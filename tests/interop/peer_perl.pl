#!/usr/bin/perl
# Drives the XBase module of libdbd-xbase-perl as an independent peer for
# table and memo-file tests.
#
# Commands (texts travel as hex of their code page 866 bytes, one per line):
#   create <layout> <table.dbf> <texts>   new table ID N(4), NOTES M with one
#                                         record per line of <texts>
#   read <table.dbf>                      print the memo of every record
#   update <table.dbf> <texts>            replace memos; a line "-" keeps one
#   header <table.dbf>                    print "year Y", "records N" and
#                                         "fields A,B,..." as the module
#                                         reads them from the header
#   rows <table.dbf>                      every record: deleted flag (0/1),
#                                         then each field as hex, tab-separated
#                                         (texts without trailing blanks,
#                                         numbers with two decimals, dates
#                                         YYYYMMDD, logicals T/F, empty
#                                         values empty)
# Layouts: db3 (version 0x83, .dbt), db4 (version 0x8B, .dbt),
#          fp (version 0xF5, .fpt).
# Exit status 2 when the module is missing, 1 on any other failure.
use strict;
use warnings;

BEGIN {
    if (!eval { require XBase; 1 }) {
        print STDERR "XBase is not installed (Debian package libdbd-xbase-perl)\n";
        exit 2;
    }
}

my %versions = (db3 => 0x83, db4 => 0x8B, fp => 0xF5);

sub LoadTexts {
    my ($path) = @_;
    open(my $in, '<', $path) or die "cannot read $path: $!\n";
    my @lines = map { chomp; $_ } <$in>;
    close $in;
    return @lines;
}

sub Create {
    my ($layout, $tablePath, $textsPath) = @_;
    my $version = $versions{$layout} or die "unknown layout $layout\n";
    my $table = XBase->create(
        name => $tablePath, version => $version,
        field_names => ['ID', 'NOTES'], field_types => ['N', 'M'],
        field_lengths => [4, 10], field_decimals => [0, 0])
        or die XBase->errstr;
    my $number = 0;
    for my $hex (LoadTexts($textsPath)) {
        $table->set_record($number, $number + 1, pack('H*', $hex))
            or die $table->errstr;
        ++$number;
    }
    $table->close or die $table->errstr;
}

sub Read {
    my ($tablePath) = @_;
    my $table = XBase->new($tablePath) or die XBase->errstr;
    for my $number (0 .. $table->last_record) {
        my ($deleted, $id, $notes) = $table->get_record($number);
        defined $deleted or die $table->errstr;
        $notes = '' unless defined $notes;
        print unpack('H*', $notes), "\n";
    }
    $table->close;
}

sub Update {
    my ($tablePath, $textsPath) = @_;
    my $table = XBase->new($tablePath) or die XBase->errstr;
    my $number = 0;
    for my $hex (LoadTexts($textsPath)) {
        if ($hex ne '-') {
            $table->update_record_hash($number, NOTES => pack('H*', $hex))
                or die $table->errstr;
        }
        ++$number;
    }
    $table->close or die $table->errstr;
}

sub Header {
    my ($tablePath) = @_;
    my $table = XBase->new($tablePath) or die XBase->errstr;
    my ($year) = split m{/}, $table->get_last_change;
    print "year $year\n";
    print "records ", $table->last_record + 1, "\n";
    print "fields ", join(',', map { uc } $table->field_names), "\n";
    $table->close;
}

sub Rows {
    my ($tablePath) = @_;
    my $table = XBase->new($tablePath) or die XBase->errstr;
    my @types = $table->field_types;
    for my $number (0 .. $table->last_record) {
        my ($deleted, @values) = $table->get_record($number);
        defined $deleted or die $table->errstr;
        my @cells = ($deleted ? '1' : '0');
        for my $i (0 .. $#values) {
            my ($value, $type) = ($values[$i], $types[$i]);
            my $text = '';
            if (defined $value && $value ne '') {
                if ($type eq 'N' || $type eq 'F') { $text = sprintf('%.2f', $value); }
                elsif ($type eq 'L') { $text = $value ? 'T' : 'F'; }
                else { ($text = $value) =~ s/ +$//; }
            }
            push @cells, unpack('H*', $text);
        }
        print join("\t", @cells), "\n";
    }
    $table->close;
}

my ($command, @args) = @ARGV;
$command = '' unless defined $command;
eval {
    if ($command eq 'create' && @args == 3) { Create(@args); }
    elsif ($command eq 'read' && @args == 1) { Read(@args); }
    elsif ($command eq 'update' && @args == 2) { Update(@args); }
    elsif ($command eq 'header' && @args == 1) { Header(@args); }
    elsif ($command eq 'rows' && @args == 1) { Rows(@args); }
    else { die "usage: peer_perl.pl create <layout> <table.dbf> <texts> | read <table.dbf> | update <table.dbf> <texts> | header <table.dbf> | rows <table.dbf>\n"; }
    1;
} or do {
    my $error = $@ || 'unknown failure';
    chomp $error;
    print STDERR "peer_perl: $error\n";
    exit 1;
};
exit 0;
