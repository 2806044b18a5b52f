/* A file manager's drag, in a process of its own: a small window at (x, y)
 * that drags the given files out as a list of addresses. A window of the
 * tests' own process could not start a drag while a tool's run keeps that
 * process from taking the mouse.
 *
 *   pw_drag_source X Y STATE_FILE PATH...
 *
 * It appends one word a line to STATE_FILE as things happen: "shown" once
 * it is on screen, "begun" when the drag starts, "data" when the drop asks
 * for the files, "ended" when the drag is over; then it quits. */
#include <gtk/gtk.h>
#include <stdio.h>
#include <stdlib.h>

static const char* g_state;
static gchar** g_uris;

static void Tell(const char* word) {
  FILE* f = fopen(g_state, "a");
  if (!f) return;
  fprintf(f, "%s\n", word);
  fclose(f);
}

static gboolean OnMapped(GtkWidget* w, GdkEvent* e, gpointer p) {
  (void)w, (void)e, (void)p;
  Tell("shown");
  return FALSE;
}

static void OnBegin(GtkWidget* w, GdkDragContext* c, gpointer p) {
  (void)w, (void)c, (void)p;
  Tell("begun");
}

static void OnDataGet(GtkWidget* w, GdkDragContext* c, GtkSelectionData* data, guint info, guint t,
                      gpointer p) {
  (void)w, (void)c, (void)info, (void)t, (void)p;
  gtk_selection_data_set_uris(data, g_uris);
  Tell("data");
}

static void OnEnd(GtkWidget* w, GdkDragContext* c, gpointer p) {
  (void)w, (void)c, (void)p;
  Tell("ended");
  gtk_main_quit();
}

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  if (argc < 5) return 2;
  g_state = argv[3];
  g_uris = g_new0(gchar*, (gsize)argc - 3);
  for (int i = 4; i < argc; ++i) g_uris[i - 4] = g_filename_to_uri(argv[i], NULL, NULL);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_POPUP);
  gtk_window_move(GTK_WINDOW(window), atoi(argv[1]), atoi(argv[2]));
  gtk_window_set_default_size(GTK_WINDOW(window), 80, 80);
  GtkWidget* box = gtk_event_box_new();
  gtk_container_add(GTK_CONTAINER(window), box);
  GtkTargetList* targets = gtk_target_list_new(NULL, 0);
  gtk_target_list_add_uri_targets(targets, 1);
  gtk_drag_source_set(box, GDK_BUTTON1_MASK, NULL, 0, (GdkDragAction)(GDK_ACTION_COPY | GDK_ACTION_MOVE));
  gtk_drag_source_set_target_list(box, targets);
  gtk_target_list_unref(targets);
  g_signal_connect(window, "map-event", G_CALLBACK(OnMapped), NULL);
  g_signal_connect(box, "drag-begin", G_CALLBACK(OnBegin), NULL);
  g_signal_connect(box, "drag-data-get", G_CALLBACK(OnDataGet), NULL);
  g_signal_connect(box, "drag-end", G_CALLBACK(OnEnd), NULL);
  gtk_widget_add_events(window, GDK_STRUCTURE_MASK);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
